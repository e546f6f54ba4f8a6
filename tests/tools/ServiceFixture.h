#pragma once

#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tools/refservice/ReferenceService.h"

namespace refservice::testing {

// Bytes that do not repeat within a file, so a wrong offset shows as wrong content.
inline std::string patternBytes(std::size_t size) {
  std::string bytes(size, '\0');
  std::generate(bytes.begin(), bytes.end(), std::mt19937(1));
  return bytes;
}

inline void writeFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A POST to the download service as request bytes, on a connection that closes after it.
inline std::string postRequest(const std::string& endpoint, const std::string& body = "SR=1",
                               const std::string& type = "application/x-www-form-urlencoded") {
  return "POST /prog/util/downloader/" + endpoint +
         " HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Type: " + type +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// An answer exactly as it came off the wire.
struct WireAnswer {
  int status = 0;
  std::string head;  // the status line and the header lines
  std::string body;  // every byte after the blank line

  // The value of the first header line of that name, compared without regard to case.
  std::optional<std::string> header(const std::string& name) const {
    for (auto at = head.find("\r\n"); at != std::string::npos; at = head.find("\r\n", at + 2)) {
      const auto line = head.substr(at + 2, head.find("\r\n", at + 2) - at - 2);
      if (line.size() > name.size() && line[name.size()] == ':' &&
          ::strncasecmp(line.data(), name.data(), name.size()) == 0) {
        auto value = line.substr(name.size() + 1);
        return value.erase(0, value.find_first_not_of(' '));
      }
    }
    return std::nullopt;
  }
};

// Writes `request` over a fresh TLS connection and reads until the server
// closes it or `deadline` has passed (bytes that keep coming may take one
// more read past it).
inline WireAnswer rawExchange(int port, const std::string& caFile, const std::string& request,
                              std::chrono::milliseconds deadline) {
  std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> ctx(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
  SSL_CTX_load_verify_locations(ctx.get(), caFile.c_str(), nullptr);
  SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, nullptr);
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(ctx.get()), SSL_free);
  SSL_set_fd(ssl.get(), fd);
  const timeval timeout{deadline.count() / 1000, (deadline.count() % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  std::string bytes;
  const auto end = std::chrono::steady_clock::now() + deadline;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      SSL_connect(ssl.get()) == 1 &&
      SSL_write(ssl.get(), request.data(), static_cast<int>(request.size())) > 0) {
    char buffer[16384];
    for (int n = 0;
         std::chrono::steady_clock::now() < end && (n = SSL_read(ssl.get(), buffer, sizeof buffer)) > 0;)
      bytes.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  WireAnswer answer;
  const auto blank = bytes.find("\r\n\r\n");
  answer.head = bytes.substr(0, blank);
  if (blank != std::string::npos) answer.body = bytes.substr(blank + 4);
  if (bytes.rfind("HTTP/1.1 ", 0) == 0) answer.status = std::atoi(bytes.c_str() + 9);
  return answer;
}

// A sandbox folder holding "installers/Setup.pkg" and a running service that
// serves that folder; log lines are collected. The folder goes with the test.
class ServiceTest : public ::testing::Test {
 public:
  static constexpr std::size_t kInstallerSize = 300'000;

 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    std::filesystem::create_directories(folder_ / "installers");
    writeFile(folder_ / "installers" / "Setup.pkg", installer_);
    startService({});
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
    c->set_keep_alive(true);
    return c;
  }

  WireAnswer raw(const std::string& request,
                 std::chrono::milliseconds deadline = std::chrono::seconds(10)) const {
    return rawExchange(service_->port(), service_->caFile(), request, deadline);
  }

  std::vector<std::string> logLines() {
    std::lock_guard lock(logMutex_);
    return logLines_;
  }

  QTemporaryDir dir_;
  const std::filesystem::path folder_ = dir_.path().toStdString();
  const std::string installer_ = patternBytes(kInstallerSize);

 private:
  std::mutex logMutex_;
  std::vector<std::string> logLines_;
  std::unique_ptr<ReferenceService> service_;
};

}  // namespace refservice::testing
