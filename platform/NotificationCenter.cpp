#include "platform/NotificationCenter.h"

#include <vector>

namespace ov {

NotificationCenter& NotificationCenter::defaultCenter() {
  static NotificationCenter center;
  return center;
}

NotificationCenter::Token NotificationCenter::addObserver(const QString& name, Observer observer) {
  std::lock_guard lk(mutex_);
  const Token token = next_++;
  entries_.emplace(token, Entry{name, std::move(observer)});
  return token;
}

void NotificationCenter::removeObserver(Token token) {
  std::lock_guard lk(mutex_);
  entries_.erase(token);
}

void NotificationCenter::post(const QString& name) {
  // Observers run without the lock, so they may add or remove observers.
  std::vector<Observer> matching;
  {
    std::lock_guard lk(mutex_);
    for (const auto& [token, entry] : entries_)
      if (entry.name == name) matching.push_back(entry.observer);
  }
  for (const auto& observer : matching) observer();
}

}  // namespace ov
