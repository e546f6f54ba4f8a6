#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tools/refservice/ReferenceService.h"

namespace refservice::testing {

// Deterministic, non-repeating bytes, so a wrong offset shows as wrong content.
inline std::string patternBytes(std::size_t size, std::uint32_t seed = 2463534242u) {
  std::string bytes(size, '\0');
  std::uint32_t x = seed;
  for (auto& byte : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    byte = static_cast<char>(x & 0xff);
  }
  return bytes;
}

inline void writeFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

inline std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Writes `request` over a fresh TLS connection and gives everything read back
// until the server closes it or `timeoutSeconds` pass without data.
inline std::string rawTlsExchange(int port, const std::string& caFile, const std::string& request,
                                  int timeoutSeconds = 3) {
  std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> ctx(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
  SSL_CTX_load_verify_locations(ctx.get(), caFile.c_str(), nullptr);
  SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, nullptr);
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return "connect failed";
  }
  timeval timeout{timeoutSeconds, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(ctx.get()), SSL_free);
  SSL_set_fd(ssl.get(), fd);
  std::string answer;
  if (SSL_connect(ssl.get()) == 1) {
    SSL_write(ssl.get(), request.data(), static_cast<int>(request.size()));
    char buffer[4096];
    int n = 0;
    while ((n = SSL_read(ssl.get(), buffer, sizeof buffer)) > 0)
      answer.append(buffer, static_cast<std::size_t>(n));
  } else {
    answer = "handshake failed";
  }
  ::close(fd);
  return answer;
}

// A sandbox folder holding one installer, "installers/Setup.pkg", removed afterwards.
class SandboxTest : public ::testing::Test {
 public:
  static constexpr std::size_t kInstallerSize = 300'000;

 protected:
  void SetUp() override {
    auto pattern = (std::filesystem::temp_directory_path() / "ovref-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    std::filesystem::create_directories(folder_ / "installers");
    installer_ = patternBytes(kInstallerSize);
    writeFile(folder_ / "installers" / "Setup.pkg", installer_);
  }

  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  std::filesystem::path folder_;
  std::string installer_;
};

// The sandbox and a running service that serves its installers; log lines are collected.
class ServiceTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    startService({});
  }

  void TearDown() override {
    service_.reset();
    SandboxTest::TearDown();
  }

  void startService(ServiceOptions options, Scenario scenario = {}) {
    service_.reset();
    options.installersFolder = (folder_ / "installers").string();
    options.stateFolder = (folder_ / "state").string();
    options.log = [this](std::string_view line) {
      std::lock_guard lock(logMutex_);
      logLines_.emplace_back(line);
    };
    service_ = std::make_unique<ReferenceService>(options, scenario);
    service_->start();
  }

  ReferenceService& service() { return *service_; }

  std::unique_ptr<httplib::SSLClient> client() const {
    auto c = std::make_unique<httplib::SSLClient>("127.0.0.1", service_->port());
    c->set_ca_cert_path(service_->caFile().c_str());
    c->enable_server_certificate_verification(true);
    c->set_keep_alive(true);
    c->set_read_timeout(10, 0);
    return c;
  }

  // A POST as the download agent sends it.
  httplib::Result post(const std::string& endpoint, const std::string& body,
                       const std::string& acceptEncoding = "gzip, deflate") const {
    auto c = client();
    c->set_decompress(false);
    return c->Post(("/prog/util/downloader/" + endpoint).c_str(), {{"Accept-Encoding", acceptEncoding}}, body,
                   "application/x-www-form-urlencoded");
  }

  httplib::Result get(const std::string& path, const httplib::Headers& headers = {}) const {
    return client()->Get(path.c_str(), headers);
  }

  std::string raw(const std::string& request) const {
    return rawTlsExchange(service_->port(), service_->caFile(), request);
  }

  std::vector<std::string> logLines() {
    std::lock_guard lock(logMutex_);
    return logLines_;
  }

  std::string installerBytes(std::size_t first, std::size_t last) const {
    return installer_.substr(first, last - first + 1);
  }

  // Waits until the request with this sequence number has ended its answer.
  RequestRecord finishedRecord(std::uint64_t seq) {
    RequestRecord found;
    const bool done = service_->waitForRequests(
        [&](const std::vector<RequestRecord>& records) {
          for (const auto& r : records)
            if (r.seq == seq && r.outcome != Outcome::Pending) {
              found = r;
              return true;
            }
          return false;
        },
        std::chrono::seconds(10));
    EXPECT_TRUE(done) << "request " << seq << " did not finish";
    return found;
  }

  RequestRecord lastFinishedRecord() {
    const auto records = service_->requests();
    if (records.empty()) {
      ADD_FAILURE() << "no request recorded";
      return {};
    }
    return finishedRecord(records.back().seq);
  }

 private:
  std::unique_ptr<ReferenceService> service_;
  std::mutex logMutex_;
  std::vector<std::string> logLines_;
};

}  // namespace refservice::testing
