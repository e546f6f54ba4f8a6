#pragma once

#include <httplib.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "tools/refservice/BodyStream.h"
#include "tools/refservice/InstallerCatalog.h"
#include "tools/refservice/InstallerDigest.h"
#include "tools/refservice/RequestJournal.h"
#include "tools/refservice/ScenarioState.h"

namespace refservice {

// Whole lines to the service's log sink, one caller at a time.
class LineLog {
 public:
  explicit LineLog(std::function<void(std::string_view)> sink);
  void write(const std::string& line);

 private:
  std::mutex mutex_;
  std::function<void(std::string_view)> sink_;
};

// What every answer draws on; owned by the service, shared by its threads.
struct ServiceContext {
  RequestJournal& journal;
  ScenarioState& state;
  const InstallerCatalog& catalog;
  DigestCache& digests;
  LineLog& log;
  // The https (or, when asked, http) link of a served installer.
  std::function<std::string(const std::string& name, bool httpScheme)> installerLink;
  // Its link under "/moved/installers/" on "localhost", a host name other than the link's.
  std::function<std::string(const std::string& name)> otherHostLink;
  std::chrono::steady_clock::time_point started;
  bool logEveryRequest = false;
};

// One request and its answer: records the request on construction and every
// choice made for the answer. Each answer sets Content-Length itself and
// supplies its body through a BodyStream, which keeps the HTTP layer from
// applying its own ranges or compression to it.
class Exchange {
 public:
  Exchange(ServiceContext& context, const httplib::Request& request, httplib::Response& response);

  const httplib::Request& request() const { return request_; }
  ServiceContext& context() { return context_; }
  std::uint64_t seq() const { return seq_; }

  void setHeader(const std::string& name, const std::string& value);
  // Forgets the headers chosen so far, to answer afresh.
  void clearHeaders();
  // Closes the connection once the answer has been written.
  void closeAfterAnswer() { closeAfter_ = true; }
  // Adds to the record's faults (several may shape one answer).
  void noteFault(const std::string& fault);
  void record(const std::function<void(RequestRecord&)>& change);

  // Answers with a body held in memory (none when empty).
  void sendText(int status, std::string body, const std::string& contentType = "text/plain; charset=utf-8");
  // Answers with no body but the headers set so far and this Content-Length (for HEAD).
  void sendHeadersOnly(int status, const std::string& contentLength);
  // Answers with a streamed body (headers only for HEAD).
  void sendStream(int status, const std::string& contentType, BodyStream::Source source,
                  BodyStream::Pacing pacing);
  // Answers `status` with `reason` as the body, records the reason as the
  // request's error and writes a log line.
  void reject(int status, const std::string& reason);

 private:
  void commit(int status);

  ServiceContext& context_;
  const httplib::Request& request_;
  httplib::Response& response_;
  std::uint64_t seq_;
  HeaderList responseHeaders_;
  bool closeAfter_ = false;
};

// A request as the journal first records it. Leaves out the pseudo-headers the
// HTTP layer adds for the peer's and its own address.
RequestRecord recordOf(const httplib::Request& request, std::chrono::steady_clock::time_point start);

}  // namespace refservice
