#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <optional>

#include "net/CurlEasy.h"
#include "net/CurlMulti.h"
#include "net/CurlRoute.h"
#include "net/HttpClient.h"
#include "net/HttpProgressCoalescer.h"
#include "net/HttpResponseParser.h"
#include "net/HttpResumeRange.h"
#include "platform/HttpDownloadFile.h"

namespace ov::curl {

// One GET streamed to a file, driven by the multi thread.
//
// A request runs as one or more attempts. The first asks for what the caller
// asked; every later one (after a suspension, a transient failure or a
// connection gone silent) asks for the rest with a narrowed Range and the
// caller's other fields (If-Range included), and must be answered by the
// matching 206, or the request fails with ResumeFailed. Suspending takes the transfer out of libcurl
// altogether: its connection is given up (a server would close it long before a user comes back from a long
// pause), while the bytes already written and their count stay. An attempt that has written nothing is simply
// sent again.
//
// Each attempt goes the way RequestRoute gives: the proxy chosen for the URL
// (the request waits, detached, until it is known), a 407 that waits for a
// login, and a redirect to another host that is asked about again and then
// followed by the next attempt, which starts there.
//
// suspend(), resume(), cancel() and isSuspended() may be called on any thread;
// the rest runs on the multi thread. Until it has finished, the request keeps
// itself alive, so callers need not hold it.
class CurlDownloadRequest final : public DownloadRequest,
                                  public Transfer,
                                  public std::enable_shared_from_this<CurlDownloadRequest> {
 public:
  CurlDownloadRequest(DownloadOptions options, const DownloadSessionConfiguration& configuration);
  ~CurlDownloadRequest() override;

  // Any thread: starts the transfer on the multi thread.
  void begin();

  void suspend() override;
  void resume() override;
  void cancel() override;
  bool isSuspended() const override { return suspended_.load(); }
  bool isFinished() const override { return finished_.load(); }
  std::int64_t bytesWritten() const override { return written_.load(); }
  void narrowEnd(std::int64_t last, std::function<void(bool narrowed)> done) override;

  void onDone(CURLcode result) override;
  Clock::time_point onTick(Clock::time_point now) override;

 private:
  // Detached: ready for the next attempt (suspended, or not yet attached).
  // Waiting: a retry's delay runs, or the proxy or a proxy's login is awaited.
  enum class Stage { Pending, Attached, Detached, Waiting, Finished };

  void start();
  bool narrowTo(std::int64_t last);
  void sync();
  void attach();
  void detach();
  bool prepareAttempt();
  void endAttempt(std::optional<HttpError> error, std::optional<std::chrono::milliseconds> retryAfter = {});
  bool retryLater(const HttpError& error, std::optional<std::chrono::milliseconds> retryAfter);
  void retryNow(std::uint64_t wait);
  void replaceSilentConnection(Clock::time_point now);
  // Waiting, until the continuation it answers runs (on the multi thread).
  std::function<void()> waitForTurn();
  void awaitLogin();
  void hop(std::string target);
  void complete();
  void fail(HttpError error);
  void finish(DownloadResponse response);
  bool acceptFinalResponse(const HttpResponse& response);
  double fraction() const;
  void postProgress();
  void deliverProgress();

  static size_t onHeader(char* data, size_t size, size_t count, void* owner);
  static size_t onBody(char* data, size_t size, size_t count, void* owner);

  DownloadOptions options_;
  std::string url_;  // where the next attempt starts; multi thread after begin()
  const DownloadSessionConfiguration configuration_;
  const std::string caFile_;
  std::atomic<bool> suspended_{false};
  std::atomic<bool> finished_{false};
  // Body bytes kept; changed on the multi thread only, read anywhere.
  std::atomic<std::int64_t> written_{0};
  HttpProgressCoalescer progress_;
  RequestRoute route_;

  // Multi thread only.
  Stage stage_ = Stage::Pending;
  std::shared_ptr<CurlDownloadRequest> self_;
  CURL* easy_ = nullptr;
  std::unique_ptr<HeaderList> headerList_;
  std::array<char, CURL_ERROR_SIZE> errorBuffer_{};
  HttpDownloadFile file_;
  HttpResponseParser parser_;
  std::optional<HttpResponse> first_;  // the answer whose body is being written
  std::optional<HttpResponse> last_;   // the latest final answer of any attempt
  std::optional<std::int64_t> expectedLength_;
  std::optional<ResumePlan> plan_;
  bool planAnswered_ = false;
  // The range the current attempt asked for from its start, and its last byte:
  // the expected range may end earlier since (narrowEnd()).
  std::optional<ExpectedRange> asked_;
  std::int64_t askedLast_ = 0;
  bool reachedEnd_ = false;           // the attempt stopped at a narrowed end
  bool narrowed_ = false;             // the expected range ends before the one first asked for
  std::optional<HttpError> problem_;  // why a callback stopped the transfer
  std::optional<std::chrono::milliseconds> retryAfter_;
  bool proxyRefused_ = false;            // the attempt's final answer was the proxy's 407
  std::optional<std::string> redirect_;  // where a stopped redirect leads
  int retries_ = 0;
  std::uint64_t wait_ = 0;  // tells a stale retry wake-up from the current one
  Clock::time_point attachedAt_;
  Clock::time_point lastActivity_;  // the attempt's start or its latest byte
  Clock::time_point progressAt_;    // the attempt's start or its latest body byte
  Clock::duration activeBefore_{};
  // How long the request had received no body byte when its silent
  // connections before this attempt were replaced; cleared by a body byte.
  Clock::duration silentBefore_{};
};

}  // namespace ov::curl
