#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/Dispatch.h"
#include "platform/HttpClient.h"
#include "tests/support/EventLoop.h"

using namespace ov;

// Helpers shared by the HTTP client tests: queues that tell their tasks apart,
// one blocking request of the shared client, and a probe that records what a
// download reports.
namespace ovtest {

using namespace std::chrono_literals;

// A queue that marks the tasks it runs, so that a handler can check where it runs.
class MarkingQueue final : public ov::DispatchQueue, public std::enable_shared_from_this<MarkingQueue> {
 public:
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
  std::string label_ = "marking";
};

// One request of the shared client while the calling thread blocks, as the
// service calls do. A handler that runs anywhere but on the queue it was given
// fails the test.
inline ov::DataResponse fetch(const QString& url, ov::HttpMethod method = ov::HttpMethod::Get,
                              const ov::FormFields& fields = {}, const ov::HttpHeaders& headers = {}) {
  struct State {
    ov::Semaphore done;
    ov::DataResponse answer;
    bool onQueue = false;
  };
  auto state = std::make_shared<State>();
  auto queue = std::make_shared<MarkingQueue>();
  ov::sharedHttpClient().request(url, method, fields, headers, queue,
                                 [state, queue](ov::DataResponse answer) {
                                   state->answer = std::move(answer);
                                   state->onQueue = queue->runsHere();
                                   state->done.signal();
                                 });
  if (!state->done.waitFor(20s)) {
    ADD_FAILURE() << "no answer from " << url.toStdString();
    return {};
  }
  EXPECT_TRUE(state->onQueue) << "the handler ran off its queue";
  return state->answer;
}

inline std::string readFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

// Everything in `folder` besides `keep`: temporary files left behind.
inline QStringList leftovers(const QString& folder, const QString& keep = QString()) {
  QStringList names = QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
  names.removeAll(keep);
  return names;
}

// Starts downloads and records every report they make. A report made off its
// queue fails the test.
class DownloadProbe {
 public:
  std::shared_ptr<ov::DownloadRequest> start(ov::DownloadSession& session, const QString& url,
                                             const ov::HttpHeaders& headers, const QString& destination,
                                             std::optional<ov::ExpectedRange> expected = std::nullopt) {
    auto state = state_;
    ov::DownloadOptions options;
    options.expected = expected;
    options.url = url;
    options.headers = headers;
    options.destination = destination;
    options.progressQueue = state->progressQueue;
    options.progress = [state](const std::shared_ptr<ov::DownloadRequest>&, double fraction) {
      EXPECT_TRUE(state->progressQueue->runsHere());
      std::lock_guard lk(state->mutex);
      state->fractions.push_back(fraction);
    };
    options.completionQueue = state->completionQueue;
    options.completion = [state](const ov::DownloadResponse& response) {
      EXPECT_TRUE(state->completionQueue->runsHere());
      std::lock_guard lk(state->mutex);
      state->completions.push_back(response);
    };
    return session.download(std::move(options));
  }

  bool waitForCompletion() {
    return ov::test::runEventLoopUntil([this] { return completionCount() > 0; });
  }
  bool waitForFraction(double atLeast) {
    return ov::test::runEventLoopUntil([this, atLeast] {
      std::lock_guard lk(state_->mutex);
      return !state_->fractions.empty() && state_->fractions.back() >= atLeast;
    });
  }
  int completionCount() const {
    std::lock_guard lk(state_->mutex);
    return static_cast<int>(state_->completions.size());
  }
  ov::DownloadResponse completion() const {
    std::lock_guard lk(state_->mutex);
    return state_->completions.empty() ? ov::DownloadResponse{} : state_->completions.front();
  }
  std::vector<double> fractions() const {
    std::lock_guard lk(state_->mutex);
    return state_->fractions;
  }

 private:
  struct State {
    std::mutex mutex;
    std::shared_ptr<MarkingQueue> progressQueue = std::make_shared<MarkingQueue>();
    std::shared_ptr<MarkingQueue> completionQueue = std::make_shared<MarkingQueue>();
    std::vector<double> fractions;
    std::vector<ov::DownloadResponse> completions;
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace ovtest
