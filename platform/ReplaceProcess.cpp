#include "platform/ReplaceProcess.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <cstring>

namespace ov {

QString replaceProcessWith(const QString& program, const char* name) {
  const QByteArray path = QFile::encodeName(program);
  char* const arguments[] = {const_cast<char*>(name), nullptr};
  ::execv(path.constData(), arguments);
  return QString::fromLocal8Bit(std::strerror(errno));
}

void nameProcessAfter(const char* name) {
  const char* slash = std::strrchr(name, '/');
  // The kernel keeps the first 15 bytes, as it does of an executable's name.
  ::prctl(PR_SET_NAME, slash != nullptr ? slash + 1 : name, 0, 0, 0);
}

}  // namespace ov
