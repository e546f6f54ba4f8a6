#pragma once

#include <httplib.h>

#include <QString>
#include <QTemporaryDir>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tools/refservice/ConnectionPool.h"
#include "tools/refservice/RequestRecord.h"

namespace ov::test {

// A file as a download server offers it: GET and HEAD, single byte ranges
// ("bytes=a-b", "bytes=a-") answered with 206 and Content-Range, If-Range
// compared with the ETag (a mismatch gets the whole body with 200), a range
// beyond the end with 416.
struct TestResource {
  std::string body;
  std::string etag = "\"test-etag\"";
  std::string contentType = "application/octet-stream";
  // When set, the body goes out in slices of this many bytes with `sliceDelay`
  // before each, so that a transfer lasts long enough to be suspended or
  // cancelled. The pause ends early when the server stops.
  std::size_t sliceSize = 0;
  std::chrono::milliseconds sliceDelay{0};
};

// An HTTPS server inside the test process, on 127.0.0.1 and a free port, with
// a certificate made for this server alone (CA and server certificate in a
// fresh temporary folder). While it lives, ov::httpSettings().caFile names its
// CA, so the program's HTTP clients trust it and nothing else; the previous
// value comes back when it is destroyed.
//
// Handlers run on the server's own 32 threads (enough for many parallel
// keep-alive connections). Registering handlers, reading the records and
// counting connections are thread-safe at any time. Handlers answer byte
// ranges themselves: cpp-httplib's automatic range slicing and compression are
// switched off, so an answer goes out exactly as the handler wrote it.
//
// Destruction stops the server at once, also while connections are kept alive
// or handlers wait in pause()/waitUntil().
class TestHttpsServer {
 public:
  // `timeout`: how long a connection may stay idle or a read or write may wait.
  explicit TestHttpsServer(std::chrono::seconds timeout = std::chrono::seconds(5));
  ~TestHttpsServer();
  TestHttpsServer(const TestHttpsServer&) = delete;
  TestHttpsServer& operator=(const TestHttpsServer&) = delete;

  // "https://127.0.0.1:<port>" followed by `path` (which starts with "/").
  QString url(const std::string& path) const;
  const std::string& caFile() const { return caFile_; }

  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;
  // Answers requests for exactly `path` with `method` ("GET", which also
  // serves HEAD, "POST", or "*" for any). A later registration for the same
  // method and path replaces the earlier one. Anything unregistered gets 404.
  void handle(const std::string& method, const std::string& path, Handler handler);
  // A GET handler (HEAD too) that serves `resource`.
  Handler serving(TestResource resource) const;

  // What the server received, as the reference service records it (header
  // fields sorted by name, not in wire order).
  std::vector<refservice::RequestRecord> requests() const;
  std::vector<refservice::RequestRecord> requestsTo(const std::string& path) const;

  // For handlers: waits `duration`; false (at once) when the server stops.
  bool pause(std::chrono::milliseconds duration) const;
  // For handlers and tests: waits until `condition` holds, the server stops or
  // `limit` passes; returns condition().
  bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) const;

 private:
  void dispatch(const httplib::Request& request, httplib::Response& response);

  QTemporaryDir temporary_;
  std::string caFile_;
  QString previousCaFile_;
  std::unique_ptr<httplib::SSLServer> server_;
  refservice::ConnectionPool* pool_;  // owned by server_ once it listens
  std::thread thread_;
  int port_ = 0;

  mutable std::mutex mutex_;
  mutable std::condition_variable wake_;
  bool stopping_ = false;                                            // guarded by mutex_
  std::map<std::pair<std::string, std::string>, Handler> handlers_;  // guarded by mutex_
  std::vector<refservice::RequestRecord> records_;                   // guarded by mutex_
};

}  // namespace ov::test
