#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

namespace ov::test {

// Writes `bytes` to `path`, creating its folders; throws std::runtime_error when it cannot.
inline void writeWholeFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).path());
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
    throw std::runtime_error("cannot write " + path.toStdString());
}

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
  Sandbox() : dir_(QDir::tempPath() + QStringLiteral("/ovdownloader-sandbox-XXXXXX")) {
    if (!dir_.isValid()) throw std::runtime_error("cannot create the sandbox folder");
    // Canonical, so that paths the code under test builds compare equal to ours.
    home_ = QFileInfo(dir_.path()).canonicalFilePath();
    for (const QString& folder : {dataHome(), configHome(), cacheHome(), downloads()}) QDir().mkpath(folder);
    writeFile(QStringLiteral(".config/user-dirs.dirs"), "XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n");
    const std::pair<const char*, QString> variables[] = {{"HOME", home_},
                                                         {"XDG_DATA_HOME", dataHome()},
                                                         {"XDG_CONFIG_HOME", configHome()},
                                                         {"XDG_CACHE_HOME", cacheHome()}};
    for (const auto& [name, value] : variables) {
      saved_.emplace_back(name,
                          qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
      qputenv(name, QFile::encodeName(value));
    }
  }
  ~Sandbox() {
    for (const auto& [name, value] : saved_) value ? qputenv(name, *value) : qunsetenv(name);
  }
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  QString home() const { return home_; }
  QString dataHome() const { return path(QStringLiteral(".local/share")); }
  QString configHome() const { return path(QStringLiteral(".config")); }
  QString cacheHome() const { return path(QStringLiteral(".cache")); }
  QString downloads() const { return path(QStringLiteral("Downloads")); }
  // <home>/<relative>, without creating anything.
  QString path(const QString& relative) const { return home_ + u'/' + relative; }
  // Writes `contents` to <home>/<relative>, creating folders; answers the full path.
  QString writeFile(const QString& relative, const QByteArray& contents) const {
    writeWholeFile(path(relative), contents);
    return path(relative);
  }

 private:
  QTemporaryDir dir_;  // removes the folder with everything in it
  QString home_;
  std::vector<std::pair<const char*, std::optional<QByteArray>>> saved_;
};

}  // namespace ov::test
