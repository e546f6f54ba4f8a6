#include "platform/AssembledFile.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/FileOps.h"

namespace ov {
namespace {

constexpr std::int64_t kBuffer = 1 << 20;

bool failed(QString& error, const QString& what, int code = errno) {
  error = what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(code));
  return false;
}

class ReadOnly {
 public:
  // Never through a link, and never waiting for a FIFO's writer.
  explicit ReadOnly(const QString& path)
      : fd_(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK)) {}
  ~ReadOnly() {
    if (fd_ >= 0) ::close(fd_);
  }
  ReadOnly(const ReadOnly&) = delete;
  ReadOnly& operator=(const ReadOnly&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Reads `length` bytes of `in` from `inOffset` into `hash` and, when `out` is
// an open file, writes them at `outOffset`.
bool readAndWrite(int in, std::int64_t inOffset, int out, std::int64_t outOffset, std::int64_t length,
                  QCryptographicHash* hash, const QString& what, QString& error) {
  std::vector<char> buffer(static_cast<std::size_t>(std::min(length, kBuffer)));
  while (length > 0) {
    const ssize_t n = ::pread(in, buffer.data(),
                              static_cast<std::size_t>(std::min<std::int64_t>(length, kBuffer)), inOffset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return failed(error, what, n == 0 ? EIO : errno);
    if (hash) hash->addData(QByteArrayView(buffer.data(), n));
    for (ssize_t done = 0; out >= 0 && done < n;) {
      const ssize_t w =
          ::pwrite(out, buffer.data() + done, static_cast<std::size_t>(n - done), outOffset + done);
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) return failed(error, QStringLiteral("writing the installer"));
      done += w;
    }
    inOffset += n;
    outOffset += n;
    length -= n;
  }
  return true;
}

}  // namespace

AssembledFile::~AssembledFile() {
  abandon();
}

void AssembledFile::abandon() {
  if (const int fd = fd_.exchange(-1); fd >= 0) ::close(fd);
}

bool AssembledFile::open(const QString& path, bool truncate, QString& error) {
  path_ = path;
  const QByteArray name = QFile::encodeName(path);
  // A new file is made afresh: a link planted at its place is removed, so the
  // bytes never land in whatever it points to.
  if (truncate) {
    if (!clearWayForFile(path, error)) return false;
    if (::unlink(name.constData()) != 0 && errno != ENOENT) return failed(error, path);
  }
  const int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | (truncate ? O_CREAT | O_EXCL : O_NONBLOCK);
  const int fd = ::open(name.constData(), flags, 0644);
  if (fd < 0) return failed(error, path);
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    error = path + QStringLiteral(" is not a regular file");
    return false;
  }
  fd_ = fd;
  return true;
}

bool AssembledFile::reserve(std::int64_t size, QString& error) {
  if (size <= 0) return true;
  if (::fallocate(fd_, 0, 0, size) == 0) return true;
  if (errno != EOPNOTSUPP && errno != ENOSYS) return failed(error, path_);
  struct stat info {};
  if (::fstat(fd_, &info) == 0 && info.st_size >= size) return true;
  if (::ftruncate(fd_, size) != 0) return failed(error, path_);
  return true;
}

bool AssembledFile::copyFrom(const QString& part, std::int64_t offset, std::int64_t length,
                             QCryptographicHash* hash, QString& error) {
  if (!copy(part, offset, length, hash, error)) return false;
  // The disk starts on these pages now rather than all at once in the final
  // flush, which would otherwise stand between the last byte and the user.
  ::sync_file_range(fd_, offset, length, SYNC_FILE_RANGE_WRITE);
  return true;
}

bool AssembledFile::copy(const QString& part, std::int64_t offset, std::int64_t length,
                         QCryptographicHash* hash, QString& error) {
  const ReadOnly in(part);
  if (in.get() < 0) return failed(error, part);
  struct stat info {};
  if (::fstat(in.get(), &info) != 0) return failed(error, part);
  if (!S_ISREG(info.st_mode)) return failed(error, part, EINVAL);
  if (info.st_size < length) return failed(error, part, EIO);
  if (length == 0) return true;
  if (hash) return readAndWrite(in.get(), 0, fd_, offset, length, hash, part, error);

  file_clone_range clone{};
  clone.src_fd = in.get();
  clone.src_length = static_cast<__u64>(length);
  clone.dest_offset = static_cast<__u64>(offset);
  if (::ioctl(fd_, FICLONERANGE, &clone) == 0) return true;

  loff_t inOffset = 0;
  loff_t outOffset = offset;
  std::int64_t left = length;
  while (left > 0) {
    const ssize_t n =
        ::copy_file_range(in.get(), &inOffset, fd_, &outOffset, static_cast<std::size_t>(left), 0);
    if (n > 0) {
      left -= n;
      continue;
    }
    if (n == 0) return failed(error, part, EIO);  // the part shrank meanwhile
    if (errno == EINTR) continue;
    if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP)
      return failed(error, QStringLiteral("writing the installer"));
    return readAndWrite(in.get(), inOffset, fd_, outOffset, left, nullptr, part, error);
  }
  return true;
}

bool AssembledFile::hashPrefix(std::int64_t length, QCryptographicHash& hash, QString& error) {
  return readAndWrite(fd_, 0, -1, 0, length, &hash, path_, error);
}

AssembledFile::Flush::Flush(int fd, QString path) : fd_(fd), path_(std::move(path)) {}

AssembledFile::Flush::Flush(Flush&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

AssembledFile::Flush& AssembledFile::Flush::operator=(Flush&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
  }
  return *this;
}

AssembledFile::Flush::~Flush() {
  if (fd_ >= 0) ::close(fd_);
}

bool AssembledFile::Flush::run(QString& error) {
  const bool synced = ::fdatasync(fd_) == 0;
  if (!synced) return failed(error, path_);
  return true;
}

std::optional<AssembledFile::Flush> AssembledFile::beginFlush(QString& error) const {
  const int fd = ::dup(fd_.load());
  if (fd < 0) {
    failed(error, path_);
    return std::nullopt;
  }
  return Flush(fd, path_);
}

bool AssembledFile::close(QString& error) {
  const int fd = fd_.exchange(-1);
  const bool synced = ::fsync(fd) == 0;
  const int syncError = errno;
  if (::close(fd) != 0) return failed(error, path_);
  if (!synced) return failed(error, path_, syncError);
  return true;
}

}  // namespace ov
