#pragma once

#include <map>
#include <mutex>
#include <string>

#include "tools/refservice/InstallerCatalog.h"

namespace refservice {

// SHA-256 digests of installers, base64 encoded, each computed once per file
// version (its ETag). Thread-safe.
class DigestCache {
 public:
  struct Digests {
    std::string right;  // of the file's bytes
    std::string wrong;  // of the file's bytes followed by one zero byte
  };

  // Reads the file in slices on first use, so files of several GiB cost no
  // more memory than small ones. Throws std::runtime_error when it cannot be read.
  Digests of(const OpenInstaller& installer);

 private:
  std::mutex mutex_;
  std::map<std::string, Digests> byEtag_;
};

}  // namespace refservice
