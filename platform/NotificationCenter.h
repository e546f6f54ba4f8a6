#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

namespace ov {

// Process-wide named notifications without object or user information.
// post() calls every observer of the name synchronously on the posting thread.
class NotificationCenter {
 public:
  using Observer = std::function<void()>;
  using Token = std::uint64_t;

  static NotificationCenter& defaultCenter();

  Token addObserver(const QString& name, Observer observer);
  void removeObserver(Token token);
  void post(const QString& name);

 private:
  struct Entry {
    QString name;
    Observer observer;
  };
  std::mutex mutex_;
  std::map<Token, Entry> entries_;
  Token next_ = 1;
};

}  // namespace ov
