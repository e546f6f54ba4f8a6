#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <optional>
#include <vector>

namespace ov::test {

// A fresh, empty home folder for one test:
//   <home>/.local/share   XDG_DATA_HOME (the application-support folder)
//   <home>/.config        XDG_CONFIG_HOME, with a user-dirs.dirs naming <home>/Downloads
//   <home>/.cache         XDG_CACHE_HOME
//   <home>/Downloads      the Downloads folder
// HOME and the three XDG variables point there while the sandbox lives; the
// destructor restores them as they were and removes the folder with everything
// in it. Create it on the main thread while no other thread reads the
// environment.
class Sandbox {
 public:
  Sandbox();
  ~Sandbox();

  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  QString home() const { return home_; }
  QString dataHome() const { return home_ + QStringLiteral("/.local/share"); }
  QString configHome() const { return home_ + QStringLiteral("/.config"); }
  QString cacheHome() const { return home_ + QStringLiteral("/.cache"); }
  QString downloads() const { return home_ + QStringLiteral("/Downloads"); }

  // <home>/<relative>, without creating anything.
  QString path(const QString& relative) const { return home_ + u'/' + relative; }

  // Writes `contents` to <home>/<relative>, creating folders; answers the full path.
  QString writeFile(const QString& relative, const QByteArray& contents) const;

 private:
  struct SavedVariable {
    const char* name;
    std::optional<QByteArray> value;
  };

  void setVariable(const char* name, const QString& value);

  QTemporaryDir dir_;
  QString home_;
  std::vector<SavedVariable> saved_;
};

}  // namespace ov::test
