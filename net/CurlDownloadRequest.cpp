#include "net/CurlDownloadRequest.h"

#include <algorithm>

#include "net/HttpRetry.h"

namespace ov::curl {
namespace {

// Large reads keep the number of callbacks (and write calls) low on fast links;
// memory stays bounded because every read goes straight to the file.
constexpr long kReadBufferSize = 512L * 1024;

std::string milliseconds(std::chrono::milliseconds duration) {
  return std::to_string(duration.count()) + " ms";
}

std::shared_ptr<DispatchQueue> orUtilityQueue(std::shared_ptr<DispatchQueue> queue) {
  if (queue) return queue;
  return std::shared_ptr<DispatchQueue>(&globalUtilityQueue(), [](DispatchQueue*) {});
}

}  // namespace

CurlDownloadRequest::CurlDownloadRequest(DownloadOptions options,
                                         const DownloadSessionConfiguration& configuration)
    : options_(std::move(options)),
      url_(ownCopy(options_.url)),
      configuration_(configuration),
      caFile_(ownFileName(httpSettings().caFile)),
      progress_(configuration.progressInterval),
      route_(url_),
      file_(options_.destination) {
  options_.progressQueue = orUtilityQueue(std::move(options_.progressQueue));
  options_.completionQueue = orUtilityQueue(std::move(options_.completionQueue));
}

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

void CurlDownloadRequest::narrowEnd(std::int64_t last, std::function<void(bool narrowed)> done) {
  Multi::instance().post([self = shared_from_this(), last, done = std::move(done)] {
    const bool narrowed = self->narrowTo(last);
    self->options_.completionQueue->async([done, narrowed] { done(narrowed); });
  });
}

bool CurlDownloadRequest::narrowTo(std::int64_t last) {
  OV_ON_MULTI_THREAD();
  auto& expected = options_.expected;
  if (stage_ == Stage::Finished || !expected || last < expected->first || last > expected->last) return false;
  const std::int64_t length = last - expected->first + 1;
  if (written_ > length) return false;
  narrowed_ = narrowed_ || last < expected->last;
  expected->last = last;
  expectedLength_ = length;
  if (written_ == length) {
    if (stage_ == Stage::Attached) detach();
    complete();
  }
  return true;
}

void CurlDownloadRequest::start() {
  OV_ON_MULTI_THREAD();
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
  OV_ON_MULTI_THREAD();
  const bool wantSuspended = suspended_.load();
  if (wantSuspended && stage_ == Stage::Attached) {
    detach();
  } else if (!wantSuspended && stage_ == Stage::Detached) {
    attach();
  }
}

void CurlDownloadRequest::attach() {
  if (!route_.isReady()) {
    route_.whenReady(waitForTurn());
    return;
  }
  if (!prepareAttempt()) return;
  route_.apply(easy_);
  curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, route_.redirectsLeft());
  attachedAt_ = lastActivity_ = progressAt_ = Clock::now();
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
// otherwise the rest of the answer being written. False when the request
// ended here.
bool CurlDownloadRequest::prepareAttempt() {
  parser_.reset();
  plan_.reset();
  planAnswered_ = false;
  problem_.reset();
  retryAfter_.reset();
  proxyRefused_ = false;
  redirect_.reset();
  reachedEnd_ = false;
  HttpHeaders headers = options_.headers;
  if (!first_ || written_ == 0) {
    // Nothing of an earlier answer was written (a write that fails ends the
    // request): the file is still empty.
    first_.reset();
    expectedLength_ = options_.expected ? std::optional(options_.expected->length()) : std::nullopt;
    written_ = 0;
    asked_ = options_.expected;
    if (asked_ && narrowed_)
      headers = withRange(options_.headers,
                          "bytes=" + std::to_string(asked_->first) + "-" + std::to_string(asked_->last));
  } else if (expectedLength_ && written_ >= *expectedLength_) {
    complete();
    return false;
  } else {
    plan_ = options_.expected ? planResume(*options_.expected, written_) : planResume(*first_, written_);
    if (!plan_) {
      fail({HttpError::Kind::ResumeFailed, "an answer with status " + std::to_string(first_->statusCode) +
                                               " cannot be continued by a range request"});
      return false;
    }
    headers = withRange(options_.headers, plan_->range);
  }
  if (options_.expected) askedLast_ = options_.expected->last;
  auto list = std::make_unique<HeaderList>(headers);
  curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, list->get());
  headerList_ = std::move(list);
  return true;
}

void CurlDownloadRequest::onDone(CURLcode result) {
  OV_ON_MULTI_THREAD();
  stage_ = Stage::Detached;
  activeBefore_ += Clock::now() - attachedAt_;
  if (redirect_) return hop(std::move(*redirect_));
  if (proxyRefused_ || (result != CURLE_OK && route_.refusedBy(easy_, 0))) return awaitLogin();
  if (parser_.lastResponse()) route_.accepted();
  // The body callback stops the transfer at a narrowed end, which libcurl
  // reports as a write error: every byte asked for is there all the same.
  if (reachedEnd_) result = CURLE_OK;
  if (problem_) {
    endAttempt(problem_, retryAfter_);
  } else if (result != CURLE_OK) {
    endAttempt(errorFor(result, errorBuffer_.data()));
  } else if (plan_ && !planAnswered_) {
    endAttempt(HttpError{HttpError::Kind::ResumeFailed, "the resumed request ended without a final answer"});
  } else if (options_.expected && written_ != options_.expected->length()) {
    endAttempt(HttpError{HttpError::Kind::UnexpectedAnswer,
                         "the answer ended after " + std::to_string(written_) + " of " +
                             std::to_string(options_.expected->length()) + " bytes"});
  } else {
    complete();
  }
}

// The end of an attempt that did not complete the request: retried when the
// failure is transient and retries are left, otherwise the request's end.
void CurlDownloadRequest::endAttempt(std::optional<HttpError> error,
                                     std::optional<std::chrono::milliseconds> retryAfter) {
  if (!error) return complete();
  if (isTransient(*error) && retryLater(*error, retryAfter)) return;
  fail(std::move(*error));
}

bool CurlDownloadRequest::retryLater(const HttpError& error,
                                     std::optional<std::chrono::milliseconds> retryAfter) {
  const auto& policy = options_.retry;
  if (retries_ >= static_cast<int>(policy.delays.size())) return false;
  const auto delay = retryAfter ? std::min(*retryAfter, policy.maxRetryAfter)
                                : jittered(policy.delays[static_cast<std::size_t>(retries_)]);
  ++retries_;
  // A fresh attempt gets the whole resource time again; the idle time-out
  // counts from its start anyway.
  activeBefore_ = {};
  stage_ = Stage::Waiting;
  const std::uint64_t wait = ++wait_;
  Multi::instance().postAt(Clock::now() + delay, [self = shared_from_this(), wait] { self->retryNow(wait); });
  if (options_.onRetry) {
    RetryNotice notice{retries_, static_cast<int>(policy.delays.size()), delay, error.description};
    options_.completionQueue->async([onRetry = options_.onRetry, notice] { onRetry(notice); });
  }
  return true;
}

void CurlDownloadRequest::retryNow(std::uint64_t wait) {
  OV_ON_MULTI_THREAD();
  if (stage_ != Stage::Waiting || wait != wait_) return;
  stage_ = Stage::Detached;
  sync();
}

Clock::time_point CurlDownloadRequest::onTick(Clock::time_point now) {
  OV_ON_MULTI_THREAD();
  if (stage_ != Stage::Attached) return Clock::time_point::max();
  const auto idleDeadline = progressAt_ + (configuration_.requestTimeout - silentBefore_);
  const auto stallDeadline = lastActivity_ + configuration_.stallTimeout;
  const auto resourceDeadline = attachedAt_ + (configuration_.resourceTimeout - activeBefore_);
  if (now >= idleDeadline) {
    detach();
    fail({HttpError::Kind::TimedOut, "no data received for " + milliseconds(configuration_.requestTimeout)});
    return Clock::time_point::max();
  }
  if (now >= resourceDeadline) {
    detach();
    endAttempt(HttpError{HttpError::Kind::TimedOut,
                         "the transfer took longer than " + milliseconds(configuration_.resourceTimeout)});
    return Clock::time_point::max();
  }
  if (now >= stallDeadline) {
    replaceSilentConnection(now);
    return Clock::time_point::max();
  }
  if (progress_.update(fraction(), now)) postProgress();
  return std::min({idleDeadline, stallDeadline, resourceDeadline, now + configuration_.progressInterval});
}

// A connection that went silent (a changed network leaves it open with no
// one at the other end) is not waited out: a new one asks for the rest at
// once. The silence counts on, so the request time-out still ends a server
// that never answers.
void CurlDownloadRequest::replaceSilentConnection(Clock::time_point now) {
  detach();
  silentBefore_ += now - progressAt_;
  stage_ = Stage::Waiting;
  Multi::instance().post([self = shared_from_this(), wait = ++wait_] { self->retryNow(wait); });
  if (options_.onRetry) {
    RetryNotice notice{0, static_cast<int>(options_.retry.delays.size()), std::chrono::milliseconds(0),
                       "no data received for " + milliseconds(configuration_.stallTimeout) +
                           "; asked again on a new connection"};
    options_.completionQueue->async([onRetry = options_.onRetry, notice] { onRetry(notice); });
  }
}

std::function<void()> CurlDownloadRequest::waitForTurn() {
  stage_ = Stage::Waiting;
  return [self = shared_from_this(), wait = ++wait_] { self->retryNow(wait); };
}

// The attempt asks again once there is a login; a request that has none
// coming fails, unless it has ended otherwise meanwhile (a cancel).
void CurlDownloadRequest::awaitLogin() {
  auto retry = waitForTurn();
  route_.awaitLogin(std::move(retry), [self = shared_from_this(), wait = wait_](HttpError error) {
    if (self->stage_ == Stage::Waiting && self->wait_ == wait) self->fail(std::move(error));
  });
}

// A redirect to another host, stopped before libcurl followed it: the next
// attempt starts at the target, once the resolver has answered for it. It
// uses up no retry; the redirects of all attempts count against one limit.
void CurlDownloadRequest::hop(std::string target) {
  if (auto tooMany = route_.spendRedirects(easy_)) return fail(std::move(*tooMany));
  url_ = std::move(target);
  curl_easy_setopt(easy_, CURLOPT_URL, url_.c_str());
  route_.moveTo(url_);
  sync();
}

void CurlDownloadRequest::complete() {
  std::string error;
  if (!file_.commit(error)) {
    fail({HttpError::Kind::File, error});
    return;
  }
  if (progress_.finish(1.0)) postProgress();
  finish({first_ ? first_ : last_, std::nullopt, file_.destination()});
}

void CurlDownloadRequest::fail(HttpError error) {
  file_.discard();
  finish({last_, std::move(error), file_.destination()});
}

void CurlDownloadRequest::finish(DownloadResponse response) {
  OV_ON_MULTI_THREAD();
  const auto keep = std::move(self_);
  stage_ = Stage::Finished;
  finished_ = true;
  if (easy_ != nullptr) {
    curl_easy_cleanup(easy_);
    easy_ = nullptr;
  }
  headerList_.reset();
  if (options_.completion) {
    options_.completionQueue->async([completion = std::move(options_.completion),
                                     response = std::move(response)] { completion(response); });
  }
  options_.onRetry = nullptr;
}

// Judges the final answer of an attempt before any of its body is written.
bool CurlDownloadRequest::acceptFinalResponse(const HttpResponse& response) {
  // The proxy's answer, not the server's: nothing of it is judged or written.
  if (route_.refusedBy(easy_, response.statusCode)) {
    proxyRefused_ = true;
    return false;
  }
  last_ = response;
  if (options_.expected && isTransientStatus(response.statusCode)) {
    problem_ =
        HttpError{HttpError::Kind::Connection, "the server answered " + std::to_string(response.statusCode)};
    retryAfter_ = parseRetryAfter(response.value("Retry-After"));
    // A last attempt keeps the kind of what happened: an answer, not a transport failure.
    if (retries_ >= static_cast<int>(options_.retry.delays.size()))
      problem_->kind = HttpError::Kind::UnexpectedAnswer;
    return false;
  }
  if (plan_) {
    // The rest of the bytes must pass every check the first answer passed,
    // against what this attempt asked for: the end may have moved back since
    // (the body then stops there).
    std::optional<std::string> why;
    if (options_.expected) {
      ExpectedRange asked = remainderOf(*options_.expected, written_);
      asked.last = askedLast_;
      why = checkExpectedAnswer(asked, response);
    } else {
      why = checkResumedAnswer(*plan_, response);
    }
    if (why && options_.expected) why = "the resumed request: " + *why;
    if (why) {
      problem_ = HttpError{HttpError::Kind::ResumeFailed, std::move(*why)};
      return false;
    }
    planAnswered_ = true;
    return true;
  }
  if (asked_) {
    if (auto why = checkExpectedAnswer(*asked_, response)) {
      problem_ = HttpError{HttpError::Kind::UnexpectedAnswer, std::move(*why)};
      return false;
    }
  } else {
    expectedLength_ = parseContentLength(response.value("Content-Length"));
  }
  first_ = response;
  return true;
}

double CurlDownloadRequest::fraction() const {
  if (!expectedLength_ || *expectedLength_ <= 0) return 0;
  return std::min(1.0, static_cast<double>(written_) / static_cast<double>(*expectedLength_));
}

void CurlDownloadRequest::postProgress() {
  if (!options_.progress) {
    progress_.beginDelivery();
    progress_.endDelivery();
    return;
  }
  options_.progressQueue->async([self = shared_from_this()] { self->deliverProgress(); });
}

void CurlDownloadRequest::deliverProgress() {
  if (const auto fraction = progress_.beginDelivery()) {
    options_.progress(std::static_pointer_cast<DownloadRequest>(shared_from_this()), *fraction);
  }
  if (progress_.endDelivery()) postProgress();
}

size_t CurlDownloadRequest::onHeader(char* data, size_t size, size_t count, void* owner) {
  auto* self = static_cast<CurlDownloadRequest*>(owner);
  self->lastActivity_ = Clock::now();
  const auto block = self->parser_.addLine(std::string_view(data, size * count));
  if (block && isFollowedRedirect(*block)) {
    self->redirect_ = self->route_.redirectToAskAbout(self->easy_, *block);
    if (self->redirect_) return 0;
  } else if (block && block->statusCode >= 200) {
    if (!self->acceptFinalResponse(*block)) return 0;
  }
  return size * count;
}

size_t CurlDownloadRequest::onBody(char* data, size_t size, size_t count, void* owner) {
  auto* self = static_cast<CurlDownloadRequest*>(owner);
  auto bytes = static_cast<std::int64_t>(size * count);
  self->lastActivity_ = self->progressAt_ = Clock::now();
  self->silentBefore_ = {};
  const auto& expected = self->options_.expected;
  // The end moved back while this attempt ran: what the answer carries after
  // it belongs to another request.
  const bool endMoved = expected && expected->last < self->askedLast_;
  if (expected && self->written_ + bytes > expected->length()) {
    // A server that ignores the range of a 2 GiB file must not get to write it.
    if (!endMoved) {
      self->problem_ =
          HttpError{HttpError::Kind::UnexpectedAnswer,
                    "the answer runs past the " + std::to_string(expected->length()) + " bytes asked for"};
      return 0;
    }
    bytes = expected->length() - self->written_;
  }
  std::string error;
  if (!self->file_.write(data, static_cast<std::size_t>(bytes), error)) {
    self->problem_ = HttpError{HttpError::Kind::File, std::move(error)};
    return 0;
  }
  self->written_ += bytes;
  if (endMoved && self->written_ == expected->length()) {
    // Ends the transfer; onDone() completes the request.
    self->reachedEnd_ = true;
    return 0;
  }
  return size * count;
}

}  // namespace ov::curl
