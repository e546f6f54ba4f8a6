#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <QDir>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/Dispatch.h"
#include "platform/HttpClient.h"
#include "tests/support/EventLoop.h"
#include "tests/support/Files.h"
#include "tests/support/TestHttpsServer.h"

using namespace ov;

// Helpers shared by the HTTP client tests: queues that tell their tasks apart,
// one blocking request of the shared client, and a probe that records what a
// download reports.
namespace ovtest {

using namespace std::chrono_literals;
using Kind = ov::HttpError::Kind;

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

template <class Answer>
std::optional<Kind> errorOf(const Answer& answer) {
  return answer.error ? std::optional(answer.error->kind) : std::nullopt;
}

// A TCP socket on 127.0.0.1 and a free port, listening when `listen`; answers (socket, port).
inline std::pair<int, int> loopbackSocket(bool listen) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), length) != 0 || (listen && ::listen(s, 1) != 0) ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error("cannot bind on loopback");
  return {s, ntohs(address.sin_port)};
}

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
  return ov::test::readWholeFile(path).toStdString();
}

// Everything in `folder` besides `keep`: temporary files left behind.
inline QStringList leftovers(const QString& folder, const QString& keep = QString()) {
  QStringList names = QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
  names.removeAll(keep);
  return names;
}

// Starts a download and records every report it makes. A report made off its
// queue fails the test.
class DownloadProbe {
 public:
  std::shared_ptr<ov::DownloadRequest> start(ov::DownloadSession& session, const QString& url,
                                             const ov::HttpHeaders& headers, const QString& destination,
                                             std::optional<ov::ExpectedRange> expected = std::nullopt) {
    ov::DownloadOptions options;
    options.expected = expected;
    options.url = url;
    options.headers = headers;
    options.destination = destination;
    options.progressQueue = std::make_shared<MarkingQueue>();
    options.progress = [s = state_, q = options.progressQueue](const auto&, double fraction) {
      EXPECT_TRUE(static_cast<MarkingQueue&>(*q).runsHere());
      std::lock_guard lk(s->mutex);
      s->fractions.push_back(fraction);
    };
    options.completionQueue = std::make_shared<MarkingQueue>();
    options.completion = [s = state_, q = options.completionQueue](const ov::DownloadResponse& response) {
      EXPECT_TRUE(static_cast<MarkingQueue&>(*q).runsHere());
      std::lock_guard lk(s->mutex);
      s->completions.push_back(response);
    };
    return session.download(std::move(options));
  }

  bool waitForCompletion() {
    return ov::test::runEventLoopUntil([this] { return !completions().empty(); });
  }
  bool waitForFraction(double atLeast) {
    return ov::test::runEventLoopUntil([&] { return !fractions().empty() && fractions().back() >= atLeast; });
  }
  std::vector<ov::DownloadResponse> completions() const { return locked(&State::completions); }
  ov::DownloadResponse completion() const {
    const auto all = completions();
    return all.empty() ? ov::DownloadResponse{} : all.front();
  }
  std::vector<double> fractions() const { return locked(&State::fractions); }

 private:
  struct State {
    std::mutex mutex;
    std::vector<double> fractions;
    std::vector<ov::DownloadResponse> completions;
  };
  template <class T>
  T locked(T State::*member) const {
    std::lock_guard lk(state_->mutex);
    return (*state_).*member;
  }
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace ovtest
