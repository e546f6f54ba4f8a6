#pragma once

#include <curl/curl.h>

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/ThreadCheck.h"

namespace ov::curl {

using Clock = std::chrono::steady_clock;

// One transfer that the multi thread drives. Every member is called on the
// multi thread.
class Transfer {
 public:
  virtual ~Transfer() = default;
  // libcurl finished the transfer with `result`; its handle is already detached.
  virtual void onDone(CURLcode result) = 0;
  // Called on every turn of the loop while attached (time-outs, progress).
  // Returns when it wants to be called again at the latest.
  virtual Clock::time_point onTick(Clock::time_point now) = 0;
};

// The one libcurl multi handle of the process and the thread that drives it.
// Other threads hand it work through post(); every libcurl call of the
// clients happens on this thread, so connections are shared and kept between
// requests of the shared client and of every download session. Created on
// first use together with curl_global_init; the thread is stopped when the
// process exits.
class Multi {
 public:
  static Multi& instance();

  // Any thread: runs `command` on the multi thread soon, in the order posted.
  void post(std::function<void()> command);
  // Any thread: runs `command` on the multi thread once `when` has come.
  void postAt(Clock::time_point when, std::function<void()> command);

  // Multi thread: hands `easy` to libcurl and keeps `transfer` alive until it
  // is done or detached. False when libcurl refuses the handle.
  bool attach(CURL* easy, std::shared_ptr<Transfer> transfer);
  // Multi thread: takes `easy` out of the multi handle at once. A transfer cut
  // off in the middle gives up its connection.
  void detach(CURL* easy);

  // Whether the caller is the multi thread.
  bool isMultiThread() const { return std::this_thread::get_id() == threadId_; }

  Multi(const Multi&) = delete;
  Multi& operator=(const Multi&) = delete;

 private:
  Multi();
  void run();
  void runCommands();
  // Runs the timed commands that are due; returns when the next one is.
  Clock::time_point runDue();
  void collectDone();
  // Ticks every attached transfer; the wait in ms until the next tick or timed command.
  int tickAll(Clock::time_point nextDue);
  void stop();

  CURLM* multi_ = nullptr;
  std::mutex mutex_;
  std::deque<std::function<void()>> commands_;                     // guarded by mutex_
  std::multimap<Clock::time_point, std::function<void()>> timed_;  // guarded by mutex_
  bool stopping_ = false;                                          // guarded by mutex_
  std::unordered_map<CURL*, std::shared_ptr<Transfer>> attached_;  // multi thread only
  std::thread thread_;
  std::thread::id threadId_;
};

}  // namespace ov::curl

// Everything a transfer does between libcurl and its handlers happens there.
#define OV_ON_MULTI_THREAD() \
  OV_EXPECT_THREAD(::ov::curl::Multi::instance().isMultiThread(), "the HTTP client's thread")
