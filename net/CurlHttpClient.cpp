#include "net/CurlHttpClient.h"

#include <array>

#include "net/CurlEasy.h"
#include "net/CurlMulti.h"
#include "net/CurlRoute.h"
#include "net/HttpBodyText.h"
#include "net/HttpResponseParser.h"

namespace ov::curl {
namespace {

// Service answers are a few bytes; a bound keeps a broken or hostile server
// from filling memory.
constexpr std::size_t kLargestAnswer = std::size_t{16} * 1024 * 1024;

}  // namespace

// One request of the shared client. Created on the caller's thread; everything
// after start() happens on the multi thread.
class SharedClientRequest final : public Transfer, public std::enable_shared_from_this<SharedClientRequest> {
 public:
  SharedClientRequest(CurlHttpClient& client, const QString& url, HttpMethod method, std::string body,
                      const HttpHeaders& headers, std::shared_ptr<DispatchQueue> queue,
                      std::function<void(DataResponse)> handler)
      : client_(client),
        url_(ownCopy(url)),
        method_(method),
        body_(std::move(body)),
        headers_(headers),
        queue_(std::move(queue)),
        handler_(std::move(handler)),
        caFile_(ownFileName(httpSettings().caFile)),
        connectTimeout_(httpSettings().sharedConnectTimeout),
        idleTimeout_(httpSettings().sharedIdleTimeout),
        totalTimeout_(httpSettings().sharedTotalTimeout),
        route_(url_) {}

  ~SharedClientRequest() override {
    if (easy_ != nullptr) curl_easy_cleanup(easy_);
  }

  void start() {
    OV_ON_MULTI_THREAD();
    if (!isFetchableUrl(url_)) {
      fail({HttpError::Kind::UnsupportedUrl, "only http and https URLs are fetched: " + url_});
      return;
    }
    easy_ = makeEasy({url_, caFile_, connectTimeout_}, errorBuffer_.data(), this, &onHeader, &onBody);
    if (easy_ == nullptr) {
      fail({HttpError::Kind::Other, "libcurl could not create a request"});
      return;
    }
    // Enables decoding; a caller's own Accept-Encoding field replaces the one
    // libcurl would send, so exactly one such field goes out.
    curl_easy_setopt(easy_, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
    setMethod();
    curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headerList_.get());
    // From here on cancelAllRequests() reaches it, also while it waits for
    // its proxy or a proxy's login.
    client_.inFlight_.insert(shared_from_this());
    attempt();
  }

  // Starts the exchange, once the proxy for its URL is known. Also after a
  // 407 that a login answers and after a redirect to another host: the
  // time-outs count from each attempt's start, never the time spent waiting.
  void attempt() {
    OV_ON_MULTI_THREAD();
    if (delivered_) return;
    if (!route_.isReady()) {
      route_.whenReady([self = shared_from_this()] { self->attempt(); });
      return;
    }
    route_.apply(easy_);
    curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, route_.redirectsLeft());
    parser_.reset();
    received_.clear();
    tooLarge_ = false;
    redirect_.reset();
    startedAt_ = lastActivity_ = Clock::now();
    if (!Multi::instance().attach(easy_, shared_from_this())) {
      fail({HttpError::Kind::Other, "libcurl refused the request"});
    }
  }

  void cancel() {
    OV_ON_MULTI_THREAD();
    Multi::instance().detach(easy_);
    fail({HttpError::Kind::Cancelled, "cancelled"}, false);
  }

  void onDone(CURLcode result) override {
    OV_ON_MULTI_THREAD();
    if (redirect_) return hop();
    const auto& last = parser_.lastResponse();
    if (route_.refusedBy(easy_, last ? last->statusCode : 0)) {
      route_.awaitLogin([self = shared_from_this()] { self->attempt(); },
                        [self = shared_from_this()](HttpError error) { self->fail(std::move(error)); });
      return;
    }
    if (last) route_.accepted();
    if (tooLarge_) {
      fail(
          {HttpError::Kind::Other, "the answer is larger than " + std::to_string(kLargestAnswer) + " bytes"});
      return;
    }
    if (result != CURLE_OK) {
      fail(errorFor(result, errorBuffer_.data()));
      return;
    }
    DataResponse answer;
    answer.response = parser_.lastResponse();
    BodyText text =
        decodeBodyText(received_, answer.response ? answer.response->value("Content-Type") : std::nullopt);
    if (text.text) {
      answer.text = std::move(text.text);
    } else {
      answer.error = HttpError{HttpError::Kind::Other, text.error};
    }
    deliver(std::move(answer));
  }

  Clock::time_point onTick(Clock::time_point now) override {
    const auto idleDeadline = lastActivity_ + idleTimeout_;
    const auto totalDeadline = startedAt_ + totalTimeout_;
    if (now >= idleDeadline || now >= totalDeadline) {
      Multi::instance().detach(easy_);
      fail({HttpError::Kind::TimedOut,
            now >= idleDeadline ? "no data received for " + std::to_string(idleTimeout_.count()) + " ms"
                                : "no whole answer within " + std::to_string(totalTimeout_.count()) + " ms"});
      return Clock::time_point::max();
    }
    return std::min(idleDeadline, totalDeadline);
  }

 private:
  static size_t onHeader(char* data, size_t size, size_t count, void* owner) {
    auto* self = static_cast<SharedClientRequest*>(owner);
    self->lastActivity_ = Clock::now();
    const auto block = self->parser_.addLine(std::string_view(data, size * count));
    if (block && isFollowedRedirect(*block)) {
      self->redirect_ = self->route_.redirectToAskAbout(self->easy_, *block);
      if (self->redirect_) {
        self->redirectStatus_ = block->statusCode;
        return 0;
      }
    }
    return size * count;
  }

  void setMethod() {
    switch (method_) {
      case HttpMethod::Get:
        curl_easy_setopt(easy_, CURLOPT_HTTPGET, 1L);
        break;
      case HttpMethod::Head:
        curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
        break;
      case HttpMethod::Post:
        curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body_.size()));
        curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, body_.c_str());
        break;
    }
  }

  // A redirect to another host, scheme or port, stopped before libcurl
  // followed it: the request goes on there as libcurl would have gone on,
  // after the resolver has been asked about the new place.
  void hop() {
    if (auto tooMany = route_.spendRedirects(easy_)) return fail(std::move(*tooMany));
    // libcurl's rule for the redirects it follows itself: 301, 302 and 303
    // make a POST a GET without its body, and 303 anything but a HEAD.
    const bool toGet = (method_ == HttpMethod::Post && redirectStatus_ >= 301 && redirectStatus_ <= 303) ||
                       (method_ != HttpMethod::Head && redirectStatus_ == 303);
    if (toGet) {
      method_ = HttpMethod::Get;
      setMethod();
    }
    url_ = std::move(*redirect_);
    curl_easy_setopt(easy_, CURLOPT_URL, url_.c_str());
    route_.moveTo(url_);
    attempt();
  }

  static size_t onBody(char* data, size_t size, size_t count, void* owner) {
    auto* self = static_cast<SharedClientRequest*>(owner);
    self->lastActivity_ = Clock::now();
    if (self->received_.size() + size * count > kLargestAnswer) {
      self->tooLarge_ = true;
      return 0;
    }
    self->received_.append(data, size * count);
    return size * count;
  }

  void fail(HttpError error, bool withResponse = true) {
    DataResponse answer;
    if (withResponse) answer.response = parser_.lastResponse();
    answer.error = std::move(error);
    deliver(std::move(answer));
  }

  // Hands the answer to the caller's queue exactly once and lets go of the request.
  void deliver(DataResponse answer) {
    OV_ON_MULTI_THREAD();
    if (delivered_) return;
    delivered_ = true;
    if (easy_ != nullptr) {
      curl_easy_cleanup(easy_);
      easy_ = nullptr;
    }
    auto handler = std::move(handler_);
    queue_->async(
        [handler = std::move(handler), answer = std::move(answer)]() mutable { handler(std::move(answer)); });
    auto self = shared_from_this();
    client_.inFlight_.erase(self);
  }

  CurlHttpClient& client_;
  std::string url_;
  HttpMethod method_;
  const std::string body_;
  const HttpHeaders headers_;
  const std::shared_ptr<DispatchQueue> queue_;
  std::function<void(DataResponse)> handler_;
  const std::string caFile_;
  const std::chrono::milliseconds connectTimeout_;
  const std::chrono::milliseconds idleTimeout_;
  const std::chrono::milliseconds totalTimeout_;
  RequestRoute route_;

  HeaderList headerList_{headers_};
  CURL* easy_ = nullptr;
  std::array<char, CURL_ERROR_SIZE> errorBuffer_{};
  HttpResponseParser parser_;
  std::string received_;
  Clock::time_point startedAt_;
  Clock::time_point lastActivity_;
  bool tooLarge_ = false;
  bool delivered_ = false;
  std::optional<std::string> redirect_;  // where a stopped redirect leads
  int redirectStatus_ = 0;
};

void CurlHttpClient::request(const QString& url, HttpMethod method, const FormFields& parameters,
                             const HttpHeaders& headers, std::shared_ptr<DispatchQueue> queue,
                             std::function<void(DataResponse)> handler) {
  if (!queue) queue = std::shared_ptr<DispatchQueue>(&globalUtilityQueue(), [](DispatchQueue*) {});
  std::string body = method == HttpMethod::Post ? formEncode(parameters) : std::string();
  auto request = std::make_shared<SharedClientRequest>(*this, url, method, std::move(body), headers,
                                                       std::move(queue), std::move(handler));
  Multi::instance().post([request] { request->start(); });
}

void CurlHttpClient::cancelAllRequests() {
  Multi::instance().post([this] {
    const auto requests = inFlight_;
    for (const auto& request : requests) request->cancel();
  });
}

}  // namespace ov::curl

namespace ov {

HttpClient& sharedHttpClient() {
  static auto* client = new curl::CurlHttpClient;  // never destroyed, like the multi thread it uses
  return *client;
}

}  // namespace ov
