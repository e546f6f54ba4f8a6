#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <QDir>
#include <memory>
#include <mutex>
#include <vector>

#include "net/HttpClient.h"
#include "platform/Dispatch.h"
#include "tests/support/EventLoop.h"
#include "tests/support/Files.h"
#include "tests/support/TestHttpsServer.h"

// Helpers shared by the HTTP client tests: one blocking request of the shared
// client, and a probe that records what a download reports.
namespace ov::test {

using namespace std::chrono_literals;
using Kind = HttpError::Kind;

template <class Answer>
std::optional<Kind> errorOf(const Answer& answer) {
  return answer.error ? std::optional(answer.error->kind) : std::nullopt;
}

// A TCP socket listening on 127.0.0.1 and a free port; answers (socket, port).
inline std::pair<int, int> listeningSocket() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(s, 1) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error("cannot bind on loopback");
  return {s, ntohs(address.sin_port)};
}

// One request of the shared client while the calling thread blocks, as the
// service calls do. A handler that runs anywhere but on the queue it was given
// fails the test.
inline DataResponse fetch(const QString& url, HttpMethod method = HttpMethod::Get,
                          const FormFields& fields = {}, const HttpHeaders& headers = {}) {
  struct State {
    Semaphore done;
    DataResponse answer;
  };
  auto state = std::make_shared<State>();
  sharedHttpClient().request(url, method, fields, headers, makeConcurrentQueue("fetch"),
                             [state](DataResponse answer) {
                               EXPECT_TRUE(isOnQueue("fetch")) << "the handler ran off its queue";
                               state->answer = std::move(answer);
                               state->done.signal();
                             });
  if (state->done.waitFor(20s)) return state->answer;
  ADD_FAILURE() << "no answer from " << url.toStdString();
  return {};
}

inline std::string readFile(const QString& path) {
  return readWholeFile(path).toStdString();
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
  std::shared_ptr<DownloadRequest> start(DownloadSession& session, const QString& url,
                                         const HttpHeaders& headers, const QString& destination,
                                         std::optional<ExpectedRange> expected = std::nullopt) {
    DownloadOptions o;
    o.url = url, o.headers = headers, o.destination = destination, o.expected = expected;
    o.progressQueue = makeConcurrentQueue("progress"), o.completionQueue = makeConcurrentQueue("completion");
    o.progress = [s = state_](const auto&, double fraction) {
      EXPECT_TRUE(isOnQueue("progress"));
      std::lock_guard lk(s->mutex);
      s->fractions.push_back(fraction);
    };
    o.completion = [s = state_](const DownloadResponse& response) {
      EXPECT_TRUE(isOnQueue("completion"));
      std::lock_guard lk(s->mutex);
      s->completions.push_back(response);
    };
    return session.download(std::move(o));
  }

  bool waitForCompletion() const {
    return runEventLoopUntil([this] { return !completions().empty(); });
  }
  bool waitForFraction(double atLeast) const {
    return runEventLoopUntil([&] { return !fractions().empty() && fractions().back() >= atLeast; });
  }
  std::vector<DownloadResponse> completions() const {
    std::lock_guard lk(state_->mutex);
    return state_->completions;
  }
  DownloadResponse completion() const {
    const auto all = completions();
    return all.empty() ? DownloadResponse{} : all.front();
  }
  std::vector<double> fractions() const {
    std::lock_guard lk(state_->mutex);
    return state_->fractions;
  }

 private:
  struct State {
    std::mutex mutex;
    std::vector<double> fractions;
    std::vector<DownloadResponse> completions;
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace ov::test
