#pragma once

#include <memory>
#include <unordered_set>

#include "net/HttpClient.h"

namespace ov::curl {

class SharedClientRequest;

// The shared default client on the process's multi thread. Every request takes
// its time-outs and CA file from httpSettings() when it is made; answers are
// decoded from gzip and deflate.
class CurlHttpClient final : public HttpClient {
 public:
  void request(const QString& url, HttpMethod method, const FormFields& parameters,
               const HttpHeaders& headers, std::shared_ptr<DispatchQueue> queue,
               std::function<void(DataResponse)> handler) override;
  void cancelAllRequests() override;

 private:
  friend class SharedClientRequest;
  // Requests started and not yet answered; multi thread only.
  std::unordered_set<std::shared_ptr<SharedClientRequest>> inFlight_;
};

}  // namespace ov::curl
