#include "tests/support/TestHttpsServer.h"

#include <openssl/ssl.h>
#include <sys/socket.h>

#include <QByteArray>
#include <cctype>
#include <stdexcept>

#include "platform/HttpClient.h"
#include "tools/certs/Certificates.h"
#include "tools/refservice/ByteRange.h"
#include "tools/refservice/FormBody.h"

namespace ov::test {
namespace {

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

// A TLS connection the server is serving, so that destruction can end the
// keep-alive wait of its thread (cpp-httplib only notices a stop between requests).
struct TestHttpsServer::Connection {
  TestHttpsServer* server;
  int fd;
};

std::optional<std::string> RecordedRequest::header(const std::string& name) const {
  for (const auto& [key, value] : headers) {
    if (equalsIgnoringCase(key, name)) return value;
  }
  return std::nullopt;
}

TestHttpsServer::TestHttpsServer() : TestHttpsServer(Options{}) {}

TestHttpsServer::TestHttpsServer(Options options) {
  if (!temporary_.isValid()) throw std::runtime_error("cannot create a temporary folder for the test server");
  folder_ = temporary_.path().toStdString();
  const ovcerts::CertificateFiles files = ovcerts::makeCertificates(folder_);
  caFile_ = files.caCertificate;

  server_ = std::make_unique<httplib::SSLServer>(files.serverCertificate.c_str(), files.serverKey.c_str());
  if (!server_->is_valid()) throw std::runtime_error("the test server's TLS set-up failed");
  SSL_CTX* context = server_->ssl_context();
  SSL_CTX_set_app_data(context, this);
  SSL_CTX_set_info_callback(context, &TestHttpsServer::onTlsEvent);

  const int threads = options.threads;
  server_->new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<std::size_t>(threads)); };
  server_->set_keep_alive_max_count(1000);
  server_->set_keep_alive_timeout(options.keepAliveTimeout.count());
  server_->set_read_timeout(options.readTimeout.count(), 0);
  server_->set_write_timeout(options.writeTimeout.count(), 0);
  const auto route = [this](const httplib::Request& request, httplib::Response& response) {
    dispatch(request, response);
  };
  server_->Get(".*", route);
  server_->Post(".*", route);
  server_->Put(".*", route);
  server_->Delete(".*", route);
  server_->Options(".*", route);

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
  server_->stop();
  {
    std::lock_guard lk(mutex_);
    for (Connection* connection : open_) ::shutdown(connection->fd, SHUT_RDWR);
  }
  if (thread_.joinable()) thread_.join();
  ov::httpSettings().caFile = previousCaFile_;
}

QString TestHttpsServer::url(const std::string& path) const {
  return QStringLiteral("https://127.0.0.1:%1").arg(port_) + QString::fromStdString(path);
}

void TestHttpsServer::handle(const std::string& method, const std::string& path, Handler handler) {
  std::lock_guard lk(mutex_);
  handlers_[{method, path}] = std::move(handler);
}

void TestHttpsServer::serve(const std::string& path, TestResource resource) {
  auto shared = std::make_shared<const TestResource>(std::move(resource));
  handle("GET", path, [this, shared](const httplib::Request& request, httplib::Response& response) {
    const TestResource& resource = *shared;
    const auto total = static_cast<std::int64_t>(resource.body.size());
    refservice::ResolvedRange part{0, total - 1};
    response.status = 200;
    response.set_header("ETag", resource.etag);
    response.set_header("Accept-Ranges", "bytes");
    const auto ifRange = request.get_header_value("If-Range");
    // Only a single range is served as one; several are answered with the whole body.
    const auto specs = request.has_header("Range")
                           ? refservice::parseRangeHeader(request.get_header_value("Range"))
                           : std::nullopt;
    if (specs && specs->size() == 1 && (ifRange.empty() || ifRange == resource.etag)) {
      const auto resolved = refservice::resolveRange(specs->front(), total);
      if (!resolved) {
        response.status = 416;
        response.set_header("Content-Range", "bytes */" + std::to_string(total));
        response.set_content("", "text/plain");
        return;
      }
      part = *resolved;
      response.status = 206;
      response.set_header("Content-Range", refservice::contentRange(part, total));
    }
    if (part.length() <= 0) {
      response.set_content("", resource.contentType);
      return;
    }
    response.set_content_provider(static_cast<std::size_t>(part.length()), resource.contentType,
                                  [this, shared, first = part.first](
                                      std::size_t offset, std::size_t remaining, httplib::DataSink& sink) {
                                    const TestResource& r = *shared;
                                    std::size_t slice = remaining;
                                    if (r.sliceSize > 0) {
                                      slice = std::min(slice, r.sliceSize);
                                      if (r.sliceDelay.count() > 0 && !pause(r.sliceDelay)) return false;
                                    }
                                    return sink.write(r.body.data() + first + offset, slice);
                                  });
  });
}

void TestHttpsServer::dispatch(const httplib::Request& request, httplib::Response& response) {
  RecordedRequest record;
  record.method = request.method;
  record.path = request.path;
  record.target = request.target;
  record.headers.assign(request.headers.begin(), request.headers.end());
  record.body = request.body;
  record.clientPort = request.remote_port;
  if (request.has_header("Range")) record.range = request.get_header_value("Range");
  if (request.get_header_value("Content-Type").rfind("application/x-www-form-urlencoded", 0) == 0) {
    for (auto& [name, value] : refservice::decodeForm(request.body).fields) record.form[name] = value;
  }
  // cpp-httplib would slice every answer by the request's Range and compress
  // text by its Accept-Encoding; handlers here decide both themselves. The
  // request object is the server's own (not const), so clearing is sound.
  auto& mutableRequest = const_cast<httplib::Request&>(request);
  mutableRequest.ranges.clear();
  mutableRequest.headers.erase("Accept-Encoding");

  Handler handler;
  {
    std::lock_guard lk(mutex_);
    records_.push_back(record);
    auto found = handlers_.find({request.method == "HEAD" ? "GET" : request.method, request.path});
    if (found == handlers_.end()) found = handlers_.find({"*", request.path});
    if (found != handlers_.end()) handler = found->second;
  }
  if (!handler) {
    response.status = 404;
    response.set_content("not found", "text/plain");
    return;
  }
  handler(request, response);
}

std::vector<RecordedRequest> TestHttpsServer::requests() const {
  std::lock_guard lk(mutex_);
  return records_;
}

std::vector<RecordedRequest> TestHttpsServer::requestsTo(const std::string& path) const {
  std::lock_guard lk(mutex_);
  std::vector<RecordedRequest> matching;
  for (const auto& record : records_) {
    if (record.path == path) matching.push_back(record);
  }
  return matching;
}

bool TestHttpsServer::pause(std::chrono::milliseconds duration) const {
  std::unique_lock lk(mutex_);
  return !wake_.wait_for(lk, duration, [this] { return stopping_; });
}

bool TestHttpsServer::waitUntil(const std::function<bool()>& condition,
                                std::chrono::milliseconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline || stopping()) return condition();
    pause(std::chrono::milliseconds(5));
  }
  return true;
}

bool TestHttpsServer::stopping() const {
  std::lock_guard lk(mutex_);
  return stopping_;
}

int TestHttpsServer::connectionIndex() {
  static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, &TestHttpsServer::onTlsFree);
  return index;
}

void TestHttpsServer::onTlsEvent(const SSL* ssl, int where, int /*ret*/) {
  if ((where & SSL_CB_HANDSHAKE_START) == 0 || SSL_get_ex_data(ssl, connectionIndex()) != nullptr) return;
  auto* server = static_cast<TestHttpsServer*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
  auto* connection = new Connection{server, SSL_get_fd(ssl)};
  SSL_set_ex_data(const_cast<SSL*>(ssl), connectionIndex(), connection);
  server->connectionOpened(connection);
}

void TestHttpsServer::onTlsFree(void* /*parent*/, void* data, CRYPTO_EX_DATA* /*ad*/, int /*index*/,
                                long /*argl*/, void* /*argp*/) {
  auto* connection = static_cast<Connection*>(data);
  if (connection == nullptr) return;
  connection->server->connectionClosed(connection);
  delete connection;
}

void TestHttpsServer::connectionOpened(Connection* connection) {
  connections_.fetch_add(1);
  std::lock_guard lk(mutex_);
  open_.insert(connection);
}

void TestHttpsServer::connectionClosed(Connection* connection) {
  std::lock_guard lk(mutex_);
  open_.erase(connection);
}

}  // namespace ov::test
