#include "tools/refservice/InstallerDigest.h"

#include <openssl/evp.h>
#include <unistd.h>

#include <memory>
#include <stdexcept>
#include <vector>

namespace refservice {
namespace {

constexpr std::size_t kReadBytes = 1 << 20;

using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

std::string base64Of(DigestContext& context) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_DigestFinal_ex(context.get(), digest, &size);
  std::string text(4 * ((size + 2) / 3), '\0');
  EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), digest, static_cast<int>(size));
  return text;
}

DigestCache::Digests compute(const OpenInstaller& installer) {
  DigestContext context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr);
  std::vector<char> buffer(kReadBytes);
  for (std::int64_t offset = 0; offset < installer.size();) {
    const auto n = ::pread(installer.fd(), buffer.data(), buffer.size(), static_cast<off_t>(offset));
    if (n <= 0) throw std::runtime_error("cannot read the installer for its digest");
    EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(n));
    offset += n;
  }
  DigestContext other(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  EVP_MD_CTX_copy_ex(other.get(), context.get());
  const unsigned char extra = 0;
  EVP_DigestUpdate(other.get(), &extra, 1);
  return {base64Of(context), base64Of(other)};
}

}  // namespace

DigestCache::Digests DigestCache::of(const OpenInstaller& installer) {
  {
    std::lock_guard lock(mutex_);
    if (const auto it = byEtag_.find(installer.etag()); it != byEtag_.end()) return it->second;
  }
  // Outside the lock: a large file takes a while, and other installers' answers need not wait.
  auto digests = compute(installer);
  std::lock_guard lock(mutex_);
  return byEtag_.emplace(installer.etag(), std::move(digests)).first->second;
}

}  // namespace refservice
