#include "tools/refservice/InstallerCatalog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>

namespace refservice {
namespace {

std::string baseName(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

std::uint64_t fnv1a(std::uint64_t hash, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) {
    hash ^= (value >> (i * 8)) & 0xff;
    hash *= 1099511628211ULL;
  }
  return hash;
}

std::string etagOf(const struct stat& info) {
  std::uint64_t hash = 14695981039346656037ULL;
  hash = fnv1a(hash, static_cast<std::uint64_t>(info.st_dev));
  hash = fnv1a(hash, static_cast<std::uint64_t>(info.st_ino));
  hash = fnv1a(hash, static_cast<std::uint64_t>(info.st_mtim.tv_sec));
  hash = fnv1a(hash, static_cast<std::uint64_t>(info.st_mtim.tv_nsec));
  char text[64];
  std::snprintf(text, sizeof text, "\"%llx-%016llx\"", static_cast<unsigned long long>(info.st_size),
                static_cast<unsigned long long>(hash));
  return text;
}

}  // namespace

OpenInstaller::OpenInstaller(int fd, std::int64_t size, std::string etag, std::int64_t modified)
    : fd_(fd), size_(size), etag_(std::move(etag)), modified_(modified) {}

OpenInstaller::~OpenInstaller() {
  ::close(fd_);
}

InstallerCatalog::InstallerCatalog(std::string folder, std::vector<std::string> files)
    : folder_(std::move(folder)), files_(std::move(files)) {}

std::optional<std::string> InstallerCatalog::pathOf(const std::string& name) const {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
      name.find('\0') != std::string::npos)
    return std::nullopt;
  for (const auto& file : files_)
    if (baseName(file) == name) return file;
  if (folder_.empty()) return std::nullopt;
  return folder_ + "/" + name;
}

std::unique_ptr<OpenInstaller> InstallerCatalog::open(const std::string& name) const {
  const auto path = pathOf(name);
  if (!path) return nullptr;
  const int fd = ::open(path->c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<OpenInstaller>(fd, static_cast<std::int64_t>(info.st_size), etagOf(info),
                                         static_cast<std::int64_t>(info.st_mtim.tv_sec));
}

std::vector<std::string> InstallerCatalog::names() const {
  std::vector<std::string> names;
  for (const auto& file : files_) names.push_back(baseName(file));
  std::vector<std::string> inFolder;
  std::error_code error;
  if (!folder_.empty()) {
    std::filesystem::directory_iterator it(folder_, error);
    for (; !error && it != std::filesystem::directory_iterator(); it.increment(error))
      if (it->is_regular_file(error)) inFolder.push_back(it->path().filename().string());
  }
  std::sort(inFolder.begin(), inFolder.end());
  for (auto& name : inFolder)
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(std::move(name));
  return names;
}

std::string changedEtag(const std::string& etag) {
  if (etag.size() >= 2 && etag.back() == '"') return etag.substr(0, etag.size() - 1) + "-changed\"";
  return etag + "-changed";
}

std::string httpDate(std::int64_t secondsSince1970) {
  // Names of our own: the C library's would follow the process's locale.
  static constexpr const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const auto time = static_cast<std::time_t>(secondsSince1970);
  std::tm utc{};
  ::gmtime_r(&time, &utc);
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", days[utc.tm_wday], utc.tm_mday,
                months[utc.tm_mon], utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

}  // namespace refservice
