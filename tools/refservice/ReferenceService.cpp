#include "tools/refservice/ReferenceService.h"

#include <fcntl.h>
#include <httplib.h>
#include <sys/socket.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <thread>

#include "tools/certs/Certificates.h"
#include "tools/refservice/ConnectionPool.h"
#include "tools/refservice/FormBody.h"
#include "tools/refservice/InstallerResponder.h"
#include "tools/refservice/ServerRouting.h"

namespace refservice {
namespace {

std::string urlHost(const std::string& bindAddress) {
  if (bindAddress.empty() || bindAddress == "0.0.0.0") return "127.0.0.1";
  if (bindAddress == "::") return "[::1]";
  if (bindAddress.find(':') != std::string::npos) return "[" + bindAddress + "]";
  return bindAddress;
}

std::string makeTemporaryFolder() {
  auto pattern = (std::filesystem::temp_directory_path() / "ov-refservice-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temporary folder");
  return pattern;
}

std::function<void(std::string_view)> logSink(std::function<void(std::string_view)> given) {
  if (given) return given;
  return [](std::string_view line) { std::cerr << "ov-refservice: " << line << std::endl; };
}

}  // namespace

struct ReferenceService::Impl {
  explicit Impl(ServiceOptions givenOptions, Scenario scenario)
      : options(std::move(givenOptions)),
        state(std::move(scenario)),
        catalog(options.installersFolder, options.installerFiles),
        log(logSink(options.log)),
        context{journal, state, catalog, digests, log, {}, {}, {}, options.logEveryRequest} {
    context.installerLink = [this](const std::string& name, bool httpScheme) {
      const auto url = installerUrl(name);
      return httpScheme ? "http" + url.substr(5) : url;
    };
    context.otherHostLink = [this](const std::string& name) {
      return "https://localhost:" + std::to_string(port.load()) + std::string(kMovedInstallerPrefix) +
             percentEncode(name);
    };
  }

  std::string baseUrl() const { return "https://" + hostAndPort(); }
  std::string hostAndPort() const { return urlHost(options.bindAddress) + ":" + std::to_string(port.load()); }
  std::string installerUrl(const std::string& name) const {
    return baseUrl() + std::string(kInstallerPrefix) + percentEncode(name);
  }

  void loadCertificates();
  void configureServer();
  void bindAndListen();

  ServiceOptions options;
  ScenarioState state;
  RequestJournal journal;
  InstallerCatalog catalog;
  DigestCache digests;
  LineLog log;
  ServiceContext context;

  std::string certificateFile;
  std::string keyFile;
  std::string caFile;
  std::string temporaryFolder;
  std::unique_ptr<httplib::SSLServer> server;
  std::thread listener;
  std::atomic<int> port{0};
  int listeningSocket = -1;
  std::atomic<bool> started{false};
  std::atomic<bool> stopped{false};

  // The HTTP layer makes the pool when it starts listening and deletes it
  // when listening ends; `pool` is valid from then until stop() has closed
  // the listening socket.
  std::mutex poolMutex;
  std::condition_variable poolChanged;
  ConnectionPool* pool = nullptr;
  bool listenerEnded = false;
};

void ReferenceService::Impl::loadCertificates() {
  if (!options.certificateFile.empty()) {
    if (options.keyFile.empty()) throw std::runtime_error("a certificate needs its key file");
    certificateFile = options.certificateFile;
    keyFile = options.keyFile;
    caFile = options.caFile.empty() ? options.certificateFile : options.caFile;
    return;
  }
  auto folder = options.stateFolder;
  if (folder.empty()) folder = temporaryFolder = makeTemporaryFolder();
  std::filesystem::create_directories(folder);
  std::vector<std::string> hosts{"localhost", "127.0.0.1"};
  if (options.bindAddress != "0.0.0.0" && options.bindAddress != "localhost" &&
      options.bindAddress != "127.0.0.1")
    hosts.push_back(options.bindAddress);
  const auto files = ovcerts::makeCertificates(folder, hosts);
  certificateFile = files.serverCertificate;
  keyFile = files.serverKey;
  caFile = files.caCertificate;
}

void ReferenceService::Impl::configureServer() {
  server = std::make_unique<httplib::SSLServer>(certificateFile.c_str(), keyFile.c_str());
  if (!server->is_valid()) throw std::runtime_error("cannot load certificate " + certificateFile);
  // The HTTP layer closes a connection after 5 requests by default; a
  // download agent keeps its connections from one chunk to the next.
  server->set_keep_alive_max_count(100000);
  server->set_keep_alive_timeout(options.keepAliveTimeout.count());
  server->set_write_timeout(options.writeTimeout.count());
  server->set_payload_max_length(1 << 20);
  // Only SO_REUSEADDR: the HTTP layer's default adds SO_REUSEPORT, with which a
  // second service on a busy port would bind too and share its connections.
  // Close-on-exec, so a process the host program starts cannot keep the port.
  server->set_socket_options([this](socket_t socket) {
    const int yes = 1;
    ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    ::fcntl(socket, F_SETFD, FD_CLOEXEC);
    if (listeningSocket < 0) listeningSocket = socket;
  });
  server->new_task_queue = [this] {
    auto* created = new ConnectionPool(options.threads);
    std::lock_guard lock(poolMutex);
    pool = created;
    poolChanged.notify_all();
    return created;
  };
  installRoutes(*server, context);
}

void ReferenceService::Impl::bindAndListen() {
  const int bound = options.port == 0
                        ? server->bind_to_any_port(options.bindAddress)
                        : (server->bind_to_port(options.bindAddress, options.port) ? options.port : -1);
  if (bound <= 0)
    throw std::runtime_error("cannot listen on " + options.bindAddress + ":" + std::to_string(options.port));
  port = bound;
  // The HTTP layer listens with a backlog of 5; ten chunk requests opening
  // connections at once would see refused SYNs and a second's retry.
  if (listeningSocket >= 0) ::listen(listeningSocket, SOMAXCONN);
  listener = std::thread([this] {
    server->listen_after_bind();
    std::lock_guard lock(poolMutex);
    listenerEnded = true;
    pool = nullptr;
    poolChanged.notify_all();
  });
  std::unique_lock lock(poolMutex);
  poolChanged.wait(lock, [&] { return pool != nullptr || listenerEnded; });
  if (listenerEnded) throw std::runtime_error("the server stopped at once");
}

ReferenceService::ReferenceService(ServiceOptions options, Scenario scenario)
    : impl_(std::make_unique<Impl>(std::move(options), std::move(scenario))) {}

ReferenceService::~ReferenceService() {
  stop();
  if (!impl_->temporaryFolder.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(impl_->temporaryFolder, ignored);
  }
}

void ReferenceService::start() {
  if (impl_->started) throw std::runtime_error("the reference service starts once");
  impl_->started = true;
  impl_->context.started = std::chrono::steady_clock::now();
  impl_->loadCertificates();
  if (!impl_->options.recordFile.empty()) impl_->journal.recordTo(impl_->options.recordFile);
  impl_->configureServer();
  impl_->bindAndListen();
}

void ReferenceService::stop() {
  if (!impl_->started || impl_->stopped) return;
  impl_->stopped = true;
  impl_->state.stop();
  {
    std::lock_guard lock(impl_->poolMutex);
    if (impl_->pool != nullptr) impl_->pool->closeConnections();
  }
  if (impl_->server) impl_->server->stop();
  if (impl_->listener.joinable()) impl_->listener.join();
}

bool ReferenceService::isRunning() const {
  return impl_->started && !impl_->stopped && impl_->port > 0;
}
int ReferenceService::port() const {
  return impl_->port;
}
std::string ReferenceService::baseUrl() const {
  return impl_->baseUrl();
}
std::string ReferenceService::hostAndPort() const {
  return impl_->hostAndPort();
}
std::string ReferenceService::caFile() const {
  return impl_->caFile;
}
std::string ReferenceService::installerUrl(const std::string& name) const {
  return impl_->installerUrl(name);
}

Scenario ReferenceService::scenario() const {
  return impl_->state.scenario();
}
void ReferenceService::setScenario(Scenario scenario) {
  impl_->state.set(std::move(scenario));
}
void ReferenceService::updateScenario(const std::function<void(Scenario&)>& change) {
  impl_->state.update(change);
}
void ReferenceService::setHold(bool hold) {
  impl_->state.update([hold](Scenario& s) { s.installer.hold = hold; });
}
void ReferenceService::resetCounters() {
  impl_->state.resetCounters();
}
std::int64_t ReferenceService::peakOpenInstallerBodies() const {
  return impl_->state.peakOpenBodies();
}

std::vector<RequestRecord> ReferenceService::requests() const {
  return impl_->journal.snapshot();
}
void ReferenceService::clearRequests() {
  impl_->journal.clear();
}
bool ReferenceService::waitForRequests(
    const std::function<bool(const std::vector<RequestRecord>&)>& predicate,
    std::chrono::milliseconds timeout) const {
  return impl_->journal.waitFor(predicate, timeout);
}

}  // namespace refservice
