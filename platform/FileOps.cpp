#include "platform/FileOps.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <algorithm>
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

// A fresh file beside `path` for bytes that will be renamed over it
// (mkostemp creates it exclusively: nothing that stood there is opened).
int makeTemporaryBeside(const QString& path, QByteArray& name, int permissions) {
  name = native(path) + ".XXXXXX";
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) ::fchmod(fd, static_cast<mode_t>(permissions));
  return fd;
}

using Check = std::function<bool(const QString&)>;

// Puts the written temporary file `fd` (named `temporary`) in place of
// `path`: flushed, closed, checked, renamed over it, the folder flushed. With
// `ok` already false, or on any failure, the temporary file goes instead.
bool replaceWithTemporary(int fd, const QByteArray& temporary, const QString& path, bool ok, QString& error,
                          const Check& check = nullptr) {
  if (ok && ::fsync(fd) != 0) ok = failed(error, path);
  if (::close(fd) != 0 && ok) ok = failed(error, path);
  if (ok && check && !check(QFile::decodeName(temporary))) {
    error = QStringLiteral("the copy for ") + path + QStringLiteral(" failed its check");
    ok = false;
  }
  if (ok && ::rename(temporary.constData(), native(path).constData()) != 0) ok = failed(error, path);
  if (!ok) {
    ::unlink(temporary.constData());
    return false;
  }
  syncFolderOf(path);
  return true;
}

bool copyAcrossVolumes(const QString& from, const QString& to, const Check& check, QString& error) {
  const int in = ::open(native(from).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (in < 0) return failed(error, from);
  QByteArray temporary;
  const int out = makeTemporaryBeside(to, temporary, 0644);
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
  if (!replaceWithTemporary(out, temporary, to, ok, error, check)) return false;
  ::unlink(native(from).constData());
  return true;
}

bool makeFolder(const QByteArray& path, QString& error) {
  if (::mkdir(path.constData(), 0700) == 0) return true;
  return failed(error, QFile::decodeName(path));
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

bool moveFile(const QString& from, const QString& to, const Check& check, QString& error) {
  if (entryKind(from) != EntryKind::RegularFile) {
    error = from + QStringLiteral(" is not a regular file");
    return false;
  }
  // rename() would replace an empty folder or a link; only a file may go.
  if (const EntryKind there = entryKind(to); there == EntryKind::Other) {
    error = to + QStringLiteral(" exists and is not a regular file");
    return false;
  }
  struct stat source {};
  struct stat folder {};
  const bool sameVolume = ::lstat(native(from).constData(), &source) == 0 &&
                          ::stat(native(QFileInfo(to).absolutePath()).constData(), &folder) == 0 &&
                          source.st_dev == folder.st_dev;
  if (sameVolume) {
    if (!check(from)) {
      error = from + QStringLiteral(" failed its check");
      return false;
    }
    if (::rename(native(from).constData(), native(to).constData()) == 0) {
      syncFolderOf(to);
      return true;
    }
    // One file system under two mounts still refuses a rename between them.
    if (errno != EXDEV) return failed(error, to);
  }
  return copyAcrossVolumes(from, to, check, error);
}

bool moveFile(const QString& from, const QString& to, QString& error) {
  return moveFile(
      from, to, [](const QString&) { return true; }, error);
}

bool writeFileDurably(const QString& path, const QByteArray& bytes, int permissions, QString& error) {
  QByteArray temporary;
  const int fd = makeTemporaryBeside(path, temporary, permissions);
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

bool flushFile(const QString& path, QString& error) {
  const int fd = ::open(native(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return failed(error, path);
  struct stat info {};
  bool ok = ::fstat(fd, &info) == 0 || failed(error, path);
  if (ok && !S_ISREG(info.st_mode)) {
    error = path + QStringLiteral(" is not a regular file");
    ok = false;
  }
  // The data is what matters: a part's length is checked when it is read back.
  if (ok && ::fdatasync(fd) != 0) ok = failed(error, path);
  ::close(fd);
  return ok;
}

std::optional<QByteArray> readRegularFile(const QString& path, std::int64_t limit, QString& error) {
  // Without O_NONBLOCK, opening a FIFO would wait for a writer that never comes.
  const int fd = ::open(native(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) {
    failed(error, path);
    return std::nullopt;
  }
  struct stat info {};
  std::optional<QByteArray> bytes;
  if (::fstat(fd, &info) != 0) {
    failed(error, path);
  } else if (!S_ISREG(info.st_mode)) {
    error = path + QStringLiteral(" is not a regular file");
  } else {
    // One byte more than allowed shows a file that is larger, or grew since.
    QByteArray buffer(static_cast<qsizetype>(std::min<std::int64_t>(info.st_size, limit) + 1), '\0');
    qsizetype done = 0;
    ssize_t n = 1;
    while (done < buffer.size() && n != 0) {
      n = ::read(fd, buffer.data() + done, static_cast<std::size_t>(buffer.size() - done));
      if (n < 0 && errno != EINTR) break;
      done += std::max<ssize_t>(n, 0);
    }
    if (n < 0) {
      failed(error, path);
    } else if (done > limit) {
      error = path + QStringLiteral(" holds more than %1 bytes").arg(limit);
    } else {
      buffer.truncate(done);
      bytes = std::move(buffer);
    }
  }
  ::close(fd);
  return bytes;
}

bool clearWayForFile(const QString& path, QString& error) {
  struct stat info {};
  if (::lstat(native(path).constData(), &info) != 0) return errno == ENOENT || failed(error, path);
  if (S_ISREG(info.st_mode)) return true;
  if (S_ISDIR(info.st_mode)) return removeTree(path, error);
  return ::unlink(native(path).constData()) == 0 || failed(error, path);
}

bool makePrivateFolder(const QString& path, QString& error) {
  const QByteArray name = native(path);
  struct stat info {};
  if (::lstat(name.constData(), &info) != 0) {
    if (errno != ENOENT) return failed(error, path);
    return makeFolder(name, error);
  }
  if (!S_ISDIR(info.st_mode)) {
    if (::unlink(name.constData()) != 0) return failed(error, path);
    return makeFolder(name, error);
  }
  if ((info.st_mode & 07777) == 0700) return true;
  // Through a descriptor: a link put in the folder's place meanwhile is not followed.
  const int fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return failed(error, path);
  const bool changed = ::fchmod(fd, 0700) == 0;
  const int code = errno;
  ::close(fd);
  return changed || failed(error, path, code);
}

}  // namespace ov
