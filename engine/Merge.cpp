#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "engine/OVDownloadMgr.h"
#include "platform/Log.h"
#include "platform/Utility.h"

namespace {

constexpr std::int64_t kMergeBlockSize = 5'242'880;

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

[[noreturn]] void throwErrno(const QString& what) {
  throw std::system_error(errno, std::generic_category(), what.toStdString());
}

// Appends `length` bytes of `in` (from its start) at `offset` of `out`. The
// kernel moves the data where it can: a reflink clone shares the blocks, and
// copy_file_range copies without passing through user space.
void appendPart(int in, int out, std::int64_t offset, std::int64_t length, const QString& partPath) {
  if (length == 0) return;
  file_clone_range clone{};
  clone.src_fd = in;
  clone.src_offset = 0;
  clone.src_length = static_cast<__u64>(length);
  clone.dest_offset = static_cast<__u64>(offset);
  if (::ioctl(out, FICLONERANGE, &clone) == 0) return;

  loff_t inOffset = 0;
  loff_t outOffset = offset;
  std::int64_t left = length;
  while (left > 0) {
    const ssize_t n = ::copy_file_range(in, &inOffset, out, &outOffset, static_cast<size_t>(left), 0);
    if (n > 0) {
      left -= n;
      continue;
    }
    if (n == 0) {
      errno = EIO;  // the part shrank while being merged
      throwErrno(partPath);
    }
    if (errno == EINTR) continue;
    if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) throwErrno(partPath);
    // Fall back to reading and writing, still one whole part at a time.
    std::vector<char> buffer(static_cast<size_t>(std::min<std::int64_t>(left, 1 << 20)));
    while (left > 0) {
      const ssize_t r = ::pread(in, buffer.data(), std::min<std::int64_t>(left, buffer.size()), inOffset);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) {
        if (r == 0) errno = EIO;
        throwErrno(partPath);
      }
      for (ssize_t written = 0; written < r;) {
        const ssize_t w = ::pwrite(out, buffer.data() + written, r - written, outOffset);
        if (w < 0 && errno == EINTR) continue;
        if (w < 0) throwErrno(QStringLiteral("merge target"));
        written += w;
        outOffset += w;
      }
      inOffset += r;
      left -= r;
    }
  }
}

}  // namespace

std::optional<QString> OVDownloadMgr::saveNameFromLink(const QString& link) {
  const QUrl url(link);
  if (!url.isValid()) return std::nullopt;
  // Split the encoded path, then decode: "%2F" must not hide a folder change.
  const QString encodedPath = url.path(QUrl::FullyEncoded);
  const QString name = QUrl::fromPercentEncoding(encodedPath.section(u'/', -1).toUtf8());
  if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) return std::nullopt;
  for (const QChar c : name) {
    if (c == u'/' || c == u'\\' || c.category() == QChar::Other_Control || c == QChar::ReplacementCharacter)
      return std::nullopt;
  }
  return name;
}

QUrl OVDownloadMgr::getSaveFileUrl(const QString& fileName) {
  const QUrl folder = getApplicationSupportDirectory(true);
  if (!createDirectory(folder.toLocalFile(), true)) return QUrl();
  const auto name = saveNameFromLink(fileName);
  if (!name) return QUrl();
  const QUrl location = QUrl::fromLocalFile(QDir(folder.toLocalFile()).filePath(*name));
  ov::systemLog(QStringLiteral("[OVDownloader]getSaveFileUrl() done, downloadFileURL : ") +
                location.toString(QUrl::FullyEncoded));
  return location;
}

QString OVDownloadMgr::partFilePath(const QUrl& localPath, std::int64_t partIndex) const {
  const auto [directory, filenameOnly, ext] = splitFilename(localPath);
  return directory + u'/' + filenameOnly + QStringLiteral("_TempFiles/") + filenameOnly + u'.' + ext + u'.' +
         QString::number(partIndex);
}

QString OVDownloadMgr::tempFolderPath() const {
  const auto [directory, filenameOnly, ext] = splitFilename(*fileUrl);
  return directory + u'/' + filenameOnly + QStringLiteral("_TempFiles/");
}

void OVDownloadMgr::mergeChunkedFiles() {
  if (bCancel) return;
  std::vector<QUrl> parts;
  for (std::int64_t i = 0; i < dataChuckCount; ++i)
    parts.push_back(QUrl::fromLocalFile(partFilePath(*fileUrl, i)));
  try {
    merge(parts, *fileUrl, kMergeBlockSize);
  } catch (const std::exception&) {
    ov::outputLine(QStringLiteral("OVDownloadMgr::mergeChunkedFiles(), error when merging parted files!!"));
    // A cancel during the merge removes the parts under it; the user who chose
    // to stop gets no failure dialog for that.
    if (!bCancel)
      notifyDelegate(
          [](DownloadProxy& delegate) { delegate.onDownloadFailed(ERROR_Code::E_DOWNLOAD_FAILED); });
    removeTempFiles();
    return;
  }
  ov::outputLine(QStringLiteral("OVDownloadMgr::mergeChunkedFiles(), Total Progress: 1.0"));
  notifyDelegate([](DownloadProxy& delegate) { delegate.onDownloadProgress(1.0); });
  postToMain([this] { stopTimers(); });
  removeTempFiles();
}

void OVDownloadMgr::merge(const std::vector<QUrl>& files, const QUrl& to, std::int64_t chunkSize) {
  const QByteArray target = QFile::encodeName(to.toLocalFile());
  // O_TRUNC: a merge over an older file of the same name leaves none of its bytes behind.
  FileDescriptor out(::open(target.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (out.get() < 0) throwErrno(to.toLocalFile());

  std::int64_t offset = 0;
  for (const QUrl& part : files) {
    const QString partPath = part.toLocalFile();
    FileDescriptor in(::open(QFile::encodeName(partPath).constData(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) throwErrno(partPath);
    struct stat info {};
    if (::fstat(in.get(), &info) != 0) throwErrno(partPath);
    // A part longer than a block is not a chunk of this plan; appending only
    // its first block would silently corrupt the installer.
    if (info.st_size > chunkSize) {
      errno = EFBIG;
      throwErrno(partPath);
    }
    appendPart(in.get(), out.get(), offset, info.st_size, partPath);
    offset += info.st_size;
  }
  if (::close(out.release()) != 0) throwErrno(to.toLocalFile());
}

void OVDownloadMgr::removeTempFiles() {
  if (!fileUrl) return;
  const std::filesystem::path folder(QFile::encodeName(tempFolderPath()).toStdString());
  std::error_code error;
  if (!std::filesystem::exists(std::filesystem::symlink_status(folder, error))) return;
  std::filesystem::remove_all(folder, error);
  if (error)
    ov::outputLine(QStringLiteral("OVDownloadMgr::removeTempFiles(), ") +
                   QString::fromStdString(error.message()));
}
