#pragma once

#include "net/HttpClient.h"

namespace ov::curl {

// A download session over the process's multi thread, so its requests share
// connections with each other and with the shared client. The session only
// holds the configuration: requests run to their end even if it goes away.
class CurlDownloadSession final : public DownloadSession {
 public:
  explicit CurlDownloadSession(DownloadSessionConfiguration configuration) : configuration_(configuration) {}

  std::shared_ptr<DownloadRequest> download(DownloadOptions options) override;

 private:
  const DownloadSessionConfiguration configuration_;
};

}  // namespace ov::curl
