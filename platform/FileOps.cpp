#include "platform/FileOps.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

namespace ov {
namespace {

QByteArray native(const QString& path) {
  return QFile::encodeName(path);
}

bool failed(QString& error, const QString& what, int code = errno) {
  error = what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(code));
  return false;
}

// Writes all of `size` bytes at the file's position.
bool writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool syncFolderOf(const QString& path) {
  const int dir =
      ::open(native(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return false;
  const bool synced = ::fsync(dir) == 0;
  ::close(dir);
  return synced;
}

// A fresh file beside `path` for bytes that will be renamed over it.
int makeTemporaryBeside(const QString& path, QByteArray& name) {
  name = native(path) + ".XXXXXX";
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) ::fchmod(fd, 0644);
  return fd;
}

// Puts the written temporary file `fd` (named `temporary`) in place of
// `path`: flushed, closed, renamed over it, the folder flushed. With `ok`
// already false, or on any failure, the temporary file goes instead.
bool replaceWithTemporary(int fd, const QByteArray& temporary, const QString& path, bool ok, QString& error) {
  if (ok && ::fsync(fd) != 0) ok = failed(error, path);
  if (::close(fd) != 0 && ok) ok = failed(error, path);
  if (ok && ::rename(temporary.constData(), native(path).constData()) != 0) ok = failed(error, path);
  if (!ok) {
    ::unlink(temporary.constData());
    return false;
  }
  syncFolderOf(path);
  return true;
}

bool copyAcrossVolumes(const QString& from, const QString& to, QString& error) {
  const int in = ::open(native(from).constData(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return failed(error, from);
  QByteArray temporary;
  const int out = makeTemporaryBeside(to, temporary);
  if (out < 0) {
    ::close(in);
    return failed(error, QStringLiteral("a temporary file beside ") + to);
  }
  std::vector<char> buffer(1 << 20);
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || (n > 0 && !writeAll(out, buffer.data(), static_cast<std::size_t>(n)))) {
      ok = failed(error, to);
      break;
    }
    if (n == 0) break;
  }
  ::close(in);
  if (!replaceWithTemporary(out, temporary, to, ok, error)) return false;
  ::unlink(native(from).constData());
  return true;
}

}  // namespace

EntryKind entryKind(const QString& path) {
  struct stat info {};
  if (::lstat(native(path).constData(), &info) != 0) return EntryKind::None;
  return S_ISREG(info.st_mode) ? EntryKind::RegularFile : EntryKind::Other;
}

std::optional<std::int64_t> regularFileSize(const QString& path) {
  struct stat info {};
  if (::lstat(native(path).constData(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return static_cast<std::int64_t>(info.st_size);
}

bool moveFile(const QString& from, const QString& to, QString& error) {
  if (entryKind(from) != EntryKind::RegularFile) {
    error = from + QStringLiteral(" is not a regular file");
    return false;
  }
  // rename() would replace an empty folder or a link; only a file may go.
  if (const EntryKind there = entryKind(to); there == EntryKind::Other) {
    error = to + QStringLiteral(" exists and is not a regular file");
    return false;
  }
  if (::rename(native(from).constData(), native(to).constData()) == 0) {
    syncFolderOf(to);
    return true;
  }
  if (errno != EXDEV) return failed(error, to);
  return copyAcrossVolumes(from, to, error);
}

bool writeFileDurably(const QString& path, const QByteArray& bytes, QString& error) {
  QByteArray temporary;
  const int fd = makeTemporaryBeside(path, temporary);
  if (fd < 0) return failed(error, QStringLiteral("a temporary file beside ") + path);
  const bool written = writeAll(fd, bytes.constData(), static_cast<std::size_t>(bytes.size()));
  if (!written) failed(error, path);
  return replaceWithTemporary(fd, temporary, path, written, error);
}

bool removeTree(const QString& path, QString& error) {
  const std::filesystem::path tree(native(path).toStdString());
  std::error_code code;
  // Files may vanish under the walk (a cancelled download discards its
  // temporary file meanwhile): what is gone needs no removing, so walk again.
  for (int attempt = 0; attempt < 5; ++attempt) {
    std::filesystem::remove_all(tree, code);
    if (!std::filesystem::exists(std::filesystem::symlink_status(tree))) return true;
    if (code && code != std::errc::no_such_file_or_directory) break;
  }
  error = QString::fromStdString(code ? code.message() : std::string("the folder keeps filling"));
  return false;
}

}  // namespace ov
