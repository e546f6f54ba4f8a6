#include "net/CurlMulti.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace ov::curl {
namespace {

// Idle connections are pruned by libcurl's own timers, which curl_multi_poll
// honours; this only bounds a wait when no transfer asks for a tick.
constexpr auto kLongestWait = std::chrono::seconds(30);

// The connection cache must hold a connection for every parallel range request
// (plus the service requests) so that the next chunk finds one kept alive.
constexpr long kCachedConnections = 64;

}  // namespace

Multi& Multi::instance() {
  // Never destroyed: handlers may still post from worker threads while the
  // process exits. The thread itself is stopped from atexit, registered after
  // curl_global_init (and so after OpenSSL's own exit handler), so it has
  // stopped before OpenSSL cleans up.
  static Multi* multi = [] {
    auto* created = new Multi;
    std::atexit([] { Multi::instance().stop(); });
    return created;
  }();
  return *multi;
}

Multi::Multi() {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  multi_ = curl_multi_init();
  curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, kCachedConnections);
  thread_ = std::thread([this] { run(); });
  threadId_ = thread_.get_id();
}

void Multi::post(std::function<void()> command) {
  {
    std::lock_guard lk(mutex_);
    if (stopping_) return;
    commands_.push_back(std::move(command));
  }
  curl_multi_wakeup(multi_);
}

void Multi::postAt(Clock::time_point when, std::function<void()> command) {
  {
    std::lock_guard lk(mutex_);
    if (stopping_) return;
    timed_.emplace(when, std::move(command));
  }
  curl_multi_wakeup(multi_);
}

bool Multi::attach(CURL* easy, std::shared_ptr<Transfer> transfer) {
  OV_ON_MULTI_THREAD();
  if (curl_multi_add_handle(multi_, easy) != CURLM_OK) return false;
  attached_[easy] = std::move(transfer);
  return true;
}

void Multi::detach(CURL* easy) {
  OV_ON_MULTI_THREAD();
  const auto found = attached_.find(easy);
  if (found == attached_.end()) return;
  curl_multi_remove_handle(multi_, easy);
  // The transfer may be released here; keep it until the erase is complete.
  const std::shared_ptr<Transfer> keep = std::move(found->second);
  attached_.erase(found);
}

void Multi::run() {
  for (;;) {
    {
      std::lock_guard lk(mutex_);
      if (stopping_) break;
    }
    runCommands();
    const auto nextDue = runDue();
    int running = 0;
    curl_multi_perform(multi_, &running);
    collectDone();
    const int waitMs = tickAll(nextDue);
    curl_multi_poll(multi_, nullptr, 0, waitMs, nullptr);
  }
}

void Multi::runCommands() {
  std::deque<std::function<void()>> batch;
  {
    std::lock_guard lk(mutex_);
    batch.swap(commands_);
  }
  for (auto& command : batch) command();
}

Clock::time_point Multi::runDue() {
  std::vector<std::function<void()>> due;
  Clock::time_point next = Clock::time_point::max();
  {
    std::lock_guard lk(mutex_);
    const auto now = Clock::now();
    auto end = timed_.upper_bound(now);
    for (auto it = timed_.begin(); it != end; ++it) due.push_back(std::move(it->second));
    timed_.erase(timed_.begin(), end);
    if (!timed_.empty()) next = timed_.begin()->first;
  }
  for (auto& command : due) command();
  return next;
}

void Multi::collectDone() {
  int queued = 0;
  while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
    if (message->msg != CURLMSG_DONE) continue;
    CURL* easy = message->easy_handle;
    const CURLcode result = message->data.result;
    const auto found = attached_.find(easy);
    if (found == attached_.end()) continue;
    const std::shared_ptr<Transfer> transfer = std::move(found->second);
    attached_.erase(found);
    curl_multi_remove_handle(multi_, easy);
    transfer->onDone(result);
  }
}

int Multi::tickAll(Clock::time_point nextDue) {
  const auto now = Clock::now();
  auto next = std::min(now + kLongestWait, nextDue);
  std::vector<std::shared_ptr<Transfer>> snapshot;
  snapshot.reserve(attached_.size());
  for (const auto& entry : attached_) snapshot.push_back(entry.second);
  for (const auto& transfer : snapshot) next = std::min(next, transfer->onTick(now));
  const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
  return static_cast<int>(
      std::clamp<long long>(wait + 1, 0, std::chrono::milliseconds(kLongestWait).count()));
}

void Multi::stop() {
  {
    std::lock_guard lk(mutex_);
    if (stopping_) return;
    stopping_ = true;
  }
  curl_multi_wakeup(multi_);
  if (thread_.joinable()) thread_.join();
}

}  // namespace ov::curl
