#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace refservice {

// An installer opened for one answer. Owns its descriptor.
class OpenInstaller {
 public:
  OpenInstaller(int fd, std::int64_t size, std::string etag, std::int64_t modified);
  ~OpenInstaller();
  OpenInstaller(const OpenInstaller&) = delete;
  OpenInstaller& operator=(const OpenInstaller&) = delete;

  int fd() const { return fd_; }
  std::int64_t size() const { return size_; }
  // A strong entity tag, quotes included, that changes with the file's
  // identity, size and modification time.
  const std::string& etag() const { return etag_; }
  // The modification time, in seconds since 1970 (UTC).
  std::int64_t modified() const { return modified_; }

 private:
  int fd_;
  std::int64_t size_;
  std::string etag_;
  std::int64_t modified_;
};

// The installers the service serves, by name: explicit files under their
// base names, and the regular files directly inside a folder (looked up at
// each request, so files added later are served too).
class InstallerCatalog {
 public:
  InstallerCatalog(std::string folder, std::vector<std::string> files);

  // Opens the installer `name` (no folder parts, never "." or ".."); null
  // when there is no such installer or it cannot be read.
  std::unique_ptr<OpenInstaller> open(const std::string& name) const;
  // Explicit files in the order given, then the folder's files by name.
  std::vector<std::string> names() const;

 private:
  std::optional<std::string> pathOf(const std::string& name) const;

  std::string folder_;
  std::vector<std::string> files_;
};

// The tag `etag` becomes after a change: "X" gives "X-changed".
std::string changedEtag(const std::string& etag);

// An HTTP date (RFC 9110, 5.6.7, IMF-fixdate): "Sun, 06 Nov 1994 08:49:37 GMT".
std::string httpDate(std::int64_t secondsSince1970);

}  // namespace refservice
