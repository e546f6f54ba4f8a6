#include "tests/support/Sandbox.h"

#include "tests/support/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <stdexcept>

namespace ov::test {

Sandbox::Sandbox() : dir_(QDir::tempPath() + QStringLiteral("/ovdownloader-sandbox-XXXXXX")) {
  if (!dir_.isValid()) throw std::runtime_error("cannot create the sandbox folder");
  // Canonical, so that paths the code under test builds compare equal to ours.
  home_ = QFileInfo(dir_.path()).canonicalFilePath();
  for (const QString& folder : {dataHome(), configHome(), cacheHome(), downloads()}) QDir().mkpath(folder);
  writeFile(QStringLiteral(".config/user-dirs.dirs"),
            QByteArrayLiteral("XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n"));

  setVariable("HOME", home_);
  setVariable("XDG_DATA_HOME", dataHome());
  setVariable("XDG_CONFIG_HOME", configHome());
  setVariable("XDG_CACHE_HOME", cacheHome());
}

Sandbox::~Sandbox() {
  for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
    if (it->value)
      qputenv(it->name, *it->value);
    else
      qunsetenv(it->name);
  }
  // dir_ removes the folder with everything in it.
}

QString Sandbox::writeFile(const QString& relative, const QByteArray& contents) const {
  writeWholeFile(path(relative), contents);
  return path(relative);
}

void Sandbox::setVariable(const char* name, const QString& value) {
  saved_.push_back({name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt});
  qputenv(name, QFile::encodeName(value));
}

}  // namespace ov::test
