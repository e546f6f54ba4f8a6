#include "ini/IniWriter.h"

#include <QSaveFile>
#include <cstdio>

namespace ov {

QString formatINI(const Config& config) {
  QString text;
  for (const Section& section : config.sections) {
    text += u'[' + section.name + QStringLiteral("]\r\n");
    for (const auto& [key, value] : section.settings.asKeyValueRange())
      text += key + QStringLiteral(" = ") + value + QStringLiteral("\r\n");
    text += QStringLiteral("\r\n");
  }
  return text;
}

void saveINI(const QString& filename, const Config& config) {
  const QByteArray bytes = formatINI(config).toUtf8();
  QSaveFile file(filename);
  const bool saved = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
  if (saved) return;
  // Straight to standard output: the INI library leans on nothing else of the program.
  std::fprintf(stdout, "save %s failed\n", filename.toUtf8().constData());
  std::fflush(stdout);
}

}  // namespace ov
