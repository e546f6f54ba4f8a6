#include "platform/HttpDownloadFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <QUrl>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

namespace ov {
namespace {

std::string systemError(const std::string& what, int code) {
  return what + ": " + std::strerror(code);
}

// Callers may hand over a file URL as well as a path.
QString localPath(const QString& destination) {
  if (destination.startsWith(QLatin1String("file:"), Qt::CaseInsensitive))
    return QUrl(destination).toLocalFile();
  return destination;
}

}  // namespace

HttpDownloadFile::HttpDownloadFile(const QString& destination)
    : destination_(destination.toStdString()),
      destinationPath_(QFile::encodeName(localPath(destination)).toStdString()) {}

HttpDownloadFile::~HttpDownloadFile() {
  discard();
}

bool HttpDownloadFile::open(std::string& error) {
  if (destinationPath_.empty()) {
    error = "no destination file was given";
    return false;
  }
  const std::filesystem::path folder = std::filesystem::path(destinationPath_).parent_path();
  std::error_code ec;
  if (!folder.empty()) std::filesystem::create_directories(folder, ec);
  if (ec) {
    error = "cannot create the folder " + folder.string() + ": " + ec.message();
    return false;
  }
  std::string pattern = destinationPath_ + ".XXXXXX.part";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  fd_ = mkstemps(name.data(), 5);
  if (fd_ < 0) {
    error = systemError("cannot create a temporary file beside " + destinationPath_, errno);
    return false;
  }
  temporaryPath_ = name.data();
  fcntl(fd_, F_SETFD, FD_CLOEXEC);
  // mkstemps makes the file private to the user; a download is an ordinary file.
  fchmod(fd_, 0644);
  return true;
}

bool HttpDownloadFile::write(const char* data, std::size_t size, std::string& error) {
  while (size > 0) {
    const ssize_t written = ::write(fd_, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      error = systemError("cannot write " + temporaryPath_, errno);
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool HttpDownloadFile::commit(std::string& error) {
  if (fd_ < 0) {
    error = "the temporary file is not open";
    return false;
  }
  const int closed = ::close(fd_);
  fd_ = -1;
  if (closed != 0) {
    error = systemError("cannot write " + temporaryPath_, errno);
    discard();
    return false;
  }
  // rename() replaces an existing file at once, so the destination is never
  // missing nor half written.
  if (std::rename(temporaryPath_.c_str(), destinationPath_.c_str()) != 0) {
    error = systemError("cannot move the download to " + destinationPath_, errno);
    discard();
    return false;
  }
  temporaryPath_.clear();
  return true;
}

void HttpDownloadFile::discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temporaryPath_.empty()) {
    ::unlink(temporaryPath_.c_str());
    temporaryPath_.clear();
  }
}

}  // namespace ov
