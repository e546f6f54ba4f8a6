#include "platform/ReplaceProcess.h"

#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <cstring>

namespace ov {

QString replaceProcessWith(const QString& program) {
  const QByteArray path = QFile::encodeName(program);
  char* const arguments[] = {const_cast<char*>(path.constData()), nullptr};
  ::execv(path.constData(), arguments);
  return QString::fromLocal8Bit(std::strerror(errno));
}

}  // namespace ov
