#include "platform/CurlDownloadSession.h"

#include "platform/CurlDownloadRequest.h"

namespace ov::curl {
namespace {

std::shared_ptr<DispatchQueue> orUtilityQueue(std::shared_ptr<DispatchQueue> queue) {
  if (queue) return queue;
  return std::shared_ptr<DispatchQueue>(&globalUtilityQueue(), [](DispatchQueue*) {});
}

}  // namespace

std::shared_ptr<DownloadRequest> CurlDownloadSession::download(const QString& url, const HttpHeaders& headers,
                                                               const QString& destination,
                                                               std::shared_ptr<DispatchQueue> progressQueue,
                                                               DownloadProgressHandler progress,
                                                               std::shared_ptr<DispatchQueue> completionQueue,
                                                               DownloadCompletionHandler completion) {
  CurlDownloadRequest::Handlers handlers{orUtilityQueue(std::move(progressQueue)), std::move(progress),
                                         orUtilityQueue(std::move(completionQueue)), std::move(completion)};
  auto request =
      std::make_shared<CurlDownloadRequest>(url, headers, destination, configuration_, std::move(handlers));
  request->begin();
  return request;
}

}  // namespace ov::curl

namespace ov {

std::shared_ptr<DownloadSession> makeDownloadSession(DownloadSessionConfiguration configuration) {
  return std::make_shared<curl::CurlDownloadSession>(configuration);
}

}  // namespace ov
