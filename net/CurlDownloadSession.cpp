#include "net/CurlDownloadSession.h"

#include "net/CurlDownloadRequest.h"

namespace ov::curl {

std::shared_ptr<DownloadRequest> CurlDownloadSession::download(DownloadOptions options) {
  auto request = std::make_shared<CurlDownloadRequest>(std::move(options), configuration_);
  request->begin();
  return request;
}

}  // namespace ov::curl

namespace ov {

std::shared_ptr<DownloadSession> makeDownloadSession(DownloadSessionConfiguration configuration) {
  return std::make_shared<curl::CurlDownloadSession>(configuration);
}

}  // namespace ov
