#pragma once

#include <QUrl>
#include <optional>

namespace ov {

class OVDownloadMgr;

// The address of the newer agent the service named when it demanded an
// update, when it is a web address (http or https, with a host): only such an
// address is ever handed to the desktop's opener or printed, never a file, a
// script or another scheme. Nothing otherwise.
std::optional<QUrl> newDownloaderAddress(const OVDownloadMgr& manager);

}  // namespace ov
