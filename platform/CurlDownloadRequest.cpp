#include "platform/CurlDownloadRequest.h"

#include <algorithm>

namespace ov::curl {
namespace {

// Large reads keep the number of callbacks (and write calls) low on fast links;
// memory stays bounded because every read goes straight to the file.
constexpr long kReadBufferSize = 512L * 1024;

std::string milliseconds(std::chrono::milliseconds duration) {
  return std::to_string(duration.count()) + " ms";
}

}  // namespace

CurlDownloadRequest::CurlDownloadRequest(const QString& url, HttpHeaders headers, const QString& destination,
                                         const DownloadSessionConfiguration& configuration, Handlers handlers)
    : url_(ownCopy(url)),
      headers_(std::move(headers)),
      configuration_(configuration),
      caFile_(ownFileName(httpSettings().caFile)),
      handlers_(std::move(handlers)),
      progress_(configuration.progressInterval),
      file_(destination) {}

CurlDownloadRequest::~CurlDownloadRequest() {
  if (easy_ != nullptr) curl_easy_cleanup(easy_);
}

void CurlDownloadRequest::begin() {
  Multi::instance().post([self = shared_from_this()] { self->start(); });
}

void CurlDownloadRequest::suspend() {
  if (suspended_.exchange(true)) return;
  progress_.setSuspended(true);
  Multi::instance().post([self = shared_from_this()] { self->sync(); });
}

void CurlDownloadRequest::resume() {
  if (!suspended_.exchange(false)) return;
  if (progress_.setSuspended(false)) postProgress();
  Multi::instance().post([self = shared_from_this()] { self->sync(); });
}

void CurlDownloadRequest::cancel() {
  Multi::instance().post([self = shared_from_this()] {
    if (self->stage_ == Stage::Finished) return;
    if (self->stage_ == Stage::Attached) self->detach();
    self->fail({HttpError::Kind::Cancelled, "cancelled"});
  });
}

void CurlDownloadRequest::start() {
  self_ = shared_from_this();
  stage_ = Stage::Detached;
  if (!isFetchableUrl(url_)) {
    fail({HttpError::Kind::UnsupportedUrl, "only http and https URLs are fetched: " + url_});
    return;
  }
  std::string error;
  if (!file_.open(error)) {
    fail({HttpError::Kind::File, error});
    return;
  }
  easy_ =
      makeEasy({url_, caFile_, configuration_.connectTimeout}, errorBuffer_.data(), this, &onHeader, &onBody);
  if (easy_ == nullptr) {
    fail({HttpError::Kind::Other, "libcurl could not create a request"});
    return;
  }
  curl_easy_setopt(easy_, CURLOPT_BUFFERSIZE, kReadBufferSize);
  sync();
}

void CurlDownloadRequest::sync() {
  if (stage_ == Stage::Pending || stage_ == Stage::Finished) return;
  const bool wantSuspended = suspended_.load();
  if (wantSuspended && stage_ == Stage::Attached) {
    detach();
  } else if (!wantSuspended && stage_ == Stage::Detached) {
    attach();
  }
}

void CurlDownloadRequest::attach() {
  if (!prepareAttempt()) return;
  attachedAt_ = lastActivity_ = Clock::now();
  if (!Multi::instance().attach(easy_, shared_from_this())) {
    fail({HttpError::Kind::Other, "libcurl refused the request"});
    return;
  }
  stage_ = Stage::Attached;
}

void CurlDownloadRequest::detach() {
  Multi::instance().detach(easy_);
  activeBefore_ += Clock::now() - attachedAt_;
  stage_ = Stage::Detached;
}

// Sets up the next attempt: the original request when no body byte is kept,
// otherwise the rest of the first answer. False when the request ended here.
bool CurlDownloadRequest::prepareAttempt() {
  parser_.reset();
  plan_.reset();
  planAnswered_ = false;
  problem_.reset();
  HttpHeaders headers = headers_;
  if (!first_ || written_ == 0) {
    std::string error;
    if (first_ && !file_.truncate(error)) {
      fail({HttpError::Kind::File, error});
      return false;
    }
    first_.reset();
    expectedLength_.reset();
    written_ = 0;
  } else if (expectedLength_ && written_ >= *expectedLength_) {
    complete();
    return false;
  } else {
    plan_ = planResume(*first_, written_);
    if (!plan_) {
      fail({HttpError::Kind::ResumeFailed, "an answer with status " + std::to_string(first_->statusCode) +
                                               " cannot be continued by a range request"});
      return false;
    }
    headers = withRange(headers_, plan_->range);
  }
  auto list = std::make_unique<HeaderList>(headers);
  curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, list->get());
  headerList_ = std::move(list);
  return true;
}

void CurlDownloadRequest::onDone(CURLcode result) {
  stage_ = Stage::Detached;
  activeBefore_ += Clock::now() - attachedAt_;
  if (problem_) {
    fail(*problem_);
  } else if (result != CURLE_OK) {
    fail(errorFor(result, errorBuffer_.data()));
  } else if (plan_ && !planAnswered_) {
    fail({HttpError::Kind::ResumeFailed, "the resumed request ended without a final answer"});
  } else {
    complete();
  }
}

Clock::time_point CurlDownloadRequest::onTick(Clock::time_point now) {
  if (stage_ != Stage::Attached) return Clock::time_point::max();
  const auto idleDeadline = lastActivity_ + configuration_.requestTimeout;
  const auto resourceDeadline = attachedAt_ + (configuration_.resourceTimeout - activeBefore_);
  if (now >= idleDeadline || now >= resourceDeadline) {
    detach();
    fail({HttpError::Kind::TimedOut,
          now >= idleDeadline
              ? "no data received for " + milliseconds(configuration_.requestTimeout)
              : "the transfer took longer than " + milliseconds(configuration_.resourceTimeout)});
    return Clock::time_point::max();
  }
  if (progress_.update(fraction(), now)) postProgress();
  return std::min({idleDeadline, resourceDeadline, now + configuration_.progressInterval});
}

void CurlDownloadRequest::complete() {
  std::string error;
  if (!file_.commit(error)) {
    fail({HttpError::Kind::File, error});
    return;
  }
  if (progress_.finish(1.0)) postProgress();
  finish({first_ ? first_ : parser_.lastResponse(), std::nullopt, file_.destination()});
}

void CurlDownloadRequest::fail(HttpError error) {
  file_.discard();
  finish({first_ ? first_ : parser_.lastResponse(), std::move(error), file_.destination()});
}

void CurlDownloadRequest::finish(DownloadResponse response) {
  const auto keep = std::move(self_);
  stage_ = Stage::Finished;
  if (easy_ != nullptr) {
    curl_easy_cleanup(easy_);
    easy_ = nullptr;
  }
  headerList_.reset();
  if (handlers_.completion) {
    handlers_.completionQueue->async([completion = std::move(handlers_.completion),
                                      response = std::move(response)] { completion(response); });
  }
}

bool CurlDownloadRequest::acceptFinalResponse(const HttpResponse& response) {
  if (plan_) {
    if (auto why = checkResumedAnswer(*plan_, response)) {
      problem_ = HttpError{HttpError::Kind::ResumeFailed, std::move(*why)};
      return false;
    }
    planAnswered_ = true;
    return true;
  }
  first_ = response;
  expectedLength_ = parseContentLength(response.value("Content-Length"));
  return true;
}

double CurlDownloadRequest::fraction() const {
  if (!expectedLength_ || *expectedLength_ <= 0) return 0;
  return std::min(1.0, static_cast<double>(written_) / static_cast<double>(*expectedLength_));
}

void CurlDownloadRequest::postProgress() {
  if (!handlers_.progress) {
    progress_.beginDelivery();
    progress_.endDelivery();
    return;
  }
  handlers_.progressQueue->async([self = shared_from_this()] { self->deliverProgress(); });
}

void CurlDownloadRequest::deliverProgress() {
  if (const auto fraction = progress_.beginDelivery()) {
    handlers_.progress(std::static_pointer_cast<DownloadRequest>(shared_from_this()), *fraction);
  }
  if (progress_.endDelivery()) postProgress();
}

size_t CurlDownloadRequest::onHeader(char* data, size_t size, size_t count, void* owner) {
  auto* self = static_cast<CurlDownloadRequest*>(owner);
  self->lastActivity_ = Clock::now();
  const auto block = self->parser_.addLine(std::string_view(data, size * count));
  if (block && block->statusCode >= 200 && !isFollowedRedirect(*block)) {
    if (!self->acceptFinalResponse(*block)) return 0;
  }
  return size * count;
}

size_t CurlDownloadRequest::onBody(char* data, size_t size, size_t count, void* owner) {
  auto* self = static_cast<CurlDownloadRequest*>(owner);
  self->lastActivity_ = Clock::now();
  std::string error;
  if (!self->file_.write(data, size * count, error)) {
    self->problem_ = HttpError{HttpError::Kind::File, std::move(error)};
    return 0;
  }
  self->written_ += static_cast<std::int64_t>(size * count);
  return size * count;
}

}  // namespace ov::curl
