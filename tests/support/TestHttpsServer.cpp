#include "tests/support/TestHttpsServer.h"

#include <openssl/ssl.h>

#include <stdexcept>

#include "net/HttpClient.h"
#include "tools/certs/Certificates.h"
#include "tools/refservice/ByteRange.h"
#include "tools/refservice/Exchange.h"

namespace ov::test {

TestHttpsServer::TestHttpsServer(std::chrono::seconds timeout) {
  if (!temporary_.isValid()) throw std::runtime_error("cannot create a temporary folder for the test server");
  const ovcerts::CertificateFiles files = ovcerts::makeCertificates(temporary_.path().toStdString());
  caFile_ = files.caCertificate;
  server_ = std::make_unique<httplib::SSLServer>(files.serverCertificate.c_str(), files.serverKey.c_str());
  if (!server_->is_valid()) throw std::runtime_error("the test server's TLS set-up failed");
  pool_ = new refservice::ConnectionPool(32);
  server_->new_task_queue = [pool = pool_] { return pool; };
  server_->set_keep_alive_max_count(1000);
  server_->set_keep_alive_timeout(timeout.count());
  server_->set_read_timeout(timeout.count(), 0);
  server_->set_write_timeout(timeout.count(), 0);
  const auto route = [this](const httplib::Request& request, httplib::Response& response) {
    dispatch(request, response);
  };
  server_->Get(".*", route);
  server_->Post(".*", route);
  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("the test server cannot bind a port");
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  // stop() does nothing until the accept loop runs, so a test that ends at
  // once would otherwise leave the loop running and hang in the destructor.
  while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  previousCaFile_ = ov::httpSettings().caFile;
  ov::httpSettings().caFile = QString::fromStdString(caFile_);
}

TestHttpsServer::~TestHttpsServer() {
  {
    std::lock_guard lk(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  // cpp-httplib notices a stop only between requests, not in a keep-alive wait.
  pool_->closeConnections();
  server_->stop();
  thread_.join();
  ov::httpSettings().caFile = previousCaFile_;
}

QString TestHttpsServer::url(const std::string& path) const {
  return QStringLiteral("https://127.0.0.1:%1").arg(port_) + QString::fromStdString(path);
}

void TestHttpsServer::handle(const std::string& method, const std::string& path, Handler handler) {
  std::lock_guard lk(mutex_);
  handlers_[{method, path}] = std::move(handler);
}

TestHttpsServer::Handler TestHttpsServer::serving(TestResource resource) const {
  auto shared = std::make_shared<const TestResource>(std::move(resource));
  return [this, shared](const httplib::Request& request, httplib::Response& response) {
    const auto total = static_cast<std::int64_t>(shared->body.size());
    refservice::ResolvedRange part{0, total - 1};
    response.status = 200;
    response.set_header("ETag", shared->etag);
    response.set_header("Accept-Ranges", "bytes");
    const auto ifRange = request.get_header_value("If-Range");
    // Only a single range is served as one; several are answered with the whole body.
    const auto specs = refservice::parseRangeHeader(request.get_header_value("Range"));
    if (request.has_header("Range") && specs && specs->size() == 1 &&
        (ifRange.empty() || ifRange == shared->etag)) {
      const auto resolved = refservice::resolveRange(specs->front(), total);
      if (!resolved) {
        response.status = 416;
        response.set_header("Content-Range", "bytes */" + std::to_string(total));
        return response.set_content("", "text/plain");
      }
      part = *resolved;
      response.status = 206;
      response.set_header("Content-Range", refservice::contentRange(part, total));
    }
    if (part.length() <= 0) return response.set_content("", shared->contentType);
    response.set_content_provider(static_cast<std::size_t>(part.length()), shared->contentType,
                                  [this, shared, first = part.first](
                                      std::size_t offset, std::size_t remaining, httplib::DataSink& sink) {
                                    std::size_t slice = remaining;
                                    if (shared->sliceSize > 0) {
                                      slice = std::min(slice, shared->sliceSize);
                                      if (shared->sliceDelay.count() > 0 && !pause(shared->sliceDelay))
                                        return false;
                                    }
                                    return sink.write(shared->body.data() + first + offset, slice);
                                  });
  };
}

void TestHttpsServer::dispatch(const httplib::Request& request, httplib::Response& response) {
  if (request.ssl != nullptr) refservice::ConnectionPool::noteConnectionSocket(SSL_get_fd(request.ssl));
  auto record = refservice::recordOf(request, {});
  // cpp-httplib would slice every answer by the request's Range and compress
  // text by its Accept-Encoding; handlers here decide both themselves. The
  // request object is the server's own (not const), so clearing is sound.
  auto& mutableRequest = const_cast<httplib::Request&>(request);
  mutableRequest.ranges.clear();
  mutableRequest.headers.erase("Accept-Encoding");
  Handler handler;
  {
    std::lock_guard lk(mutex_);
    records_.push_back(std::move(record));
    auto found = handlers_.find({request.method == "HEAD" ? "GET" : request.method, request.path});
    if (found == handlers_.end()) found = handlers_.find({"*", request.path});
    if (found != handlers_.end()) handler = found->second;
  }
  if (handler) return handler(request, response);
  response.status = 404;
  response.set_content("not found", "text/plain");
}

std::vector<refservice::RequestRecord> TestHttpsServer::requests() const {
  std::lock_guard lk(mutex_);
  return records_;
}

std::vector<refservice::RequestRecord> TestHttpsServer::requestsTo(const std::string& path) const {
  std::vector<refservice::RequestRecord> matching;
  for (auto& request : requests())
    if (request.path == path) matching.push_back(std::move(request));
  return matching;
}

bool TestHttpsServer::pause(std::chrono::milliseconds duration) const {
  std::unique_lock lk(mutex_);
  return !wake_.wait_for(lk, duration, [this] { return stopping_; });
}

bool TestHttpsServer::waitUntil(const std::function<bool()>& condition,
                                std::chrono::milliseconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition() && std::chrono::steady_clock::now() < deadline)
    if (!pause(std::chrono::milliseconds(5))) break;
  return condition();
}

}  // namespace ov::test
