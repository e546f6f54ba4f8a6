#include "frontend/NewDownloaderAddress.h"

#include "engine/OVDownloadMgr.h"

namespace ov {

std::optional<QUrl> newDownloaderAddress(const OVDownloadMgr& manager) {
  const auto address = manager.getNewDownloaderURL();
  if (!address) return std::nullopt;
  QUrl url(*address, QUrl::StrictMode);
  if (!url.isValid() || (url.scheme() != u"https" && url.scheme() != u"http") || url.host().isEmpty())
    return std::nullopt;
  return url;
}

}  // namespace ov
