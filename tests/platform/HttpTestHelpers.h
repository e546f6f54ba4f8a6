#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Dispatch.h"
#include "platform/HttpClient.h"

// Helpers shared by the HTTP client tests: waiting for answers, queues that
// tell their tasks apart, and a probe that records what a download reports.
namespace ovtest {

using namespace std::chrono_literals;

// A queue that marks the tasks it runs, so that a handler can check where it runs.
class MarkingQueue final : public ov::DispatchQueue, public std::enable_shared_from_this<MarkingQueue> {
 public:
  explicit MarkingQueue(std::string label) : label_(std::move(label)) {}
  void async(ov::Task task) override {
    ov::globalUtilityQueue().async([self = shared_from_this(), task = std::move(task)] {
      current() = self.get();
      task();
      current() = nullptr;
    });
  }
  const std::string& label() const override { return label_; }
  bool runsHere() const { return current() == this; }

 private:
  static const MarkingQueue*& current() {
    thread_local const MarkingQueue* running = nullptr;
    return running;
  }
  std::string label_;
};

// The main queue as a shared pointer (it lives as long as the process).
inline std::shared_ptr<ov::DispatchQueue> mainQueuePointer() {
  return std::shared_ptr<ov::DispatchQueue>(&ov::mainQueue(), [](ov::DispatchQueue*) {});
}

// Waits for `condition`, running the main queue's tasks meanwhile.
inline bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = 20s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

struct FetchResult {
  ov::DataResponse answer;
  bool onAnswerQueue = false;
  bool onCallingThread = true;
};

// One request of the shared client, answered on a fresh "orvalen" queue while
// the calling thread blocks, as the service calls do.
inline FetchResult fetch(const QString& url, ov::HttpMethod method = ov::HttpMethod::Get,
                         const ov::FormFields& fields = {}, const ov::HttpHeaders& headers = {}) {
  struct State {
    ov::Semaphore done;
    FetchResult result;
  };
  auto state = std::make_shared<State>();
  auto queue = std::make_shared<MarkingQueue>("orvalen");
  const auto caller = std::this_thread::get_id();
  ov::sharedHttpClient().request(url, method, fields, headers, queue,
                                 [state, queue, caller](ov::DataResponse answer) {
                                   state->result.answer = std::move(answer);
                                   state->result.onAnswerQueue = queue->runsHere();
                                   state->result.onCallingThread = std::this_thread::get_id() == caller;
                                   state->done.signal();
                                 });
  if (!state->done.waitFor(20s)) {
    ADD_FAILURE() << "no answer from " << url.toStdString();
    return {};
  }
  return state->result;
}

inline std::string readFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll().toStdString();
}

// Names in `folder` other than `except`: leftovers such as temporary files.
inline QStringList entriesBesides(const QString& folder, const QStringList& except) {
  QStringList names = QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
  for (const auto& name : except) names.removeAll(name);
  return names;
}

// Starts downloads and records every report they make, thread-safely.
class DownloadProbe {
 public:
  struct Progress {
    double fraction;
    bool onProgressQueue;
    bool whileSuspended;
    bool onMainThread;
  };

  explicit DownloadProbe(std::shared_ptr<ov::DispatchQueue> progressQueue = nullptr)
      : state_(std::make_shared<State>()) {
    state_->progressQueue = progressQueue ? progressQueue : std::make_shared<MarkingQueue>("progress");
  }

  // `options` may set what the probe does not: the expected range, the retry policy.
  std::shared_ptr<ov::DownloadRequest> start(ov::DownloadSession& session, const QString& url,
                                             const ov::HttpHeaders& headers, const QString& destination,
                                             ov::DownloadOptions options = {}) {
    auto state = state_;
    auto marking = std::dynamic_pointer_cast<MarkingQueue>(state->progressQueue);
    options.url = url;
    options.headers = headers;
    options.destination = destination;
    options.progressQueue = state->progressQueue;
    options.progress = [state, marking](const std::shared_ptr<ov::DownloadRequest>& request,
                                        double fraction) {
      std::lock_guard lk(state->mutex);
      state->progress.push_back({fraction, marking ? marking->runsHere() : true, request->isSuspended(),
                                 QCoreApplication::instance() != nullptr && ov::isMainThread()});
    };
    options.completionQueue = state->completionQueue;
    options.completion = [state](const ov::DownloadResponse& response) {
      std::lock_guard lk(state->mutex);
      state->completions.push_back(response);
      state->completionOnItsQueue = state->completionOnItsQueue && state->completionQueue->runsHere();
      state->done.signal();
    };
    return session.download(std::move(options));
  }

  // Waits for the first completion (running the main queue meanwhile).
  bool waitForCompletion(std::chrono::milliseconds limit = 20s) {
    return pumpUntil([this] { return completionCount() > 0; }, limit);
  }
  bool waitForFraction(double atLeast, std::chrono::milliseconds limit = 20s) {
    return pumpUntil(
        [this, atLeast] {
          std::lock_guard lk(state_->mutex);
          return !state_->progress.empty() && state_->progress.back().fraction >= atLeast;
        },
        limit);
  }

  int completionCount() const {
    std::lock_guard lk(state_->mutex);
    return static_cast<int>(state_->completions.size());
  }
  ov::DownloadResponse completion() const {
    std::lock_guard lk(state_->mutex);
    return state_->completions.empty() ? ov::DownloadResponse{} : state_->completions.front();
  }
  std::vector<Progress> progress() const {
    std::lock_guard lk(state_->mutex);
    return state_->progress;
  }
  bool completionOnItsQueue() const {
    std::lock_guard lk(state_->mutex);
    return state_->completionOnItsQueue;
  }

 private:
  struct State {
    std::mutex mutex;
    std::shared_ptr<ov::DispatchQueue> progressQueue;
    std::shared_ptr<MarkingQueue> completionQueue = std::make_shared<MarkingQueue>("DownloadMgrTaskQueue");
    std::vector<Progress> progress;
    std::vector<ov::DownloadResponse> completions;
    bool completionOnItsQueue = true;
    ov::Semaphore done;
  };
  std::shared_ptr<State> state_;
};

}  // namespace ovtest
