#pragma once

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/Files.h"
#include "tools/refservice/ReferenceService.h"

namespace refservice::testing {

using ov::test::patternBytes;
using ov::test::readWholeFile;
using ov::test::writeWholeFile;

// "METHOD PATH | Name: value | ..." as request bytes, on a connection that
// closes after it. A POST carries the part that is no header ("SR=1" when
// there is none) as its body, a form unless a Content-Type is given.
inline std::string request(const std::string& text) {
  std::string bytes =
      text.substr(0, text.find(" | ")) + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
  std::string body = "SR=1";
  for (auto bar = text.find(" | "); bar != std::string::npos; bar = text.find(" | ", bar + 3)) {
    const auto part = text.substr(bar + 3, text.find(" | ", bar + 3) - bar - 3);
    if (part.find(": ") == std::string::npos)
      body = part;
    else
      bytes += part + "\r\n";
  }
  if (text.rfind("POST", 0) != 0) return bytes + "\r\n";
  if (bytes.find("Content-Type: ") == std::string::npos)
    bytes += "Content-Type: application/x-www-form-urlencoded\r\n";
  return bytes + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
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
          ::strncasecmp(line.data(), name.data(), name.size()) == 0)
        return line.substr(line.find_first_not_of(' ', name.size() + 1));
    }
    return std::nullopt;
  }
};

// Writes `request` over a fresh TLS connection and reads until the server
// closes it or `deadline` has passed (bytes that keep coming may take one
// more read past it).
inline WireAnswer rawExchange(int port, const std::string& caFile, const std::string& request,
                              std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
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
  const auto blank = bytes.find("\r\n\r\n");
  return {bytes.rfind("HTTP/1.1 ", 0) == 0 ? std::atoi(bytes.c_str() + 9) : 0, bytes.substr(0, blank),
          blank == std::string::npos ? std::string() : bytes.substr(blank + 4)};
}

// A sandbox folder holding "installers/Setup.pkg" and a running service that
// serves that folder; log lines are collected. The folder goes with the test.
class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    writeWholeFile(path("installers/Setup.pkg"), QByteArray::fromStdString(installer_));
    startService({});
  }

  void startService(ServiceOptions options, Scenario scenario = {}) {
    service_.reset();
    options.installersFolder = path("installers").toStdString();
    options.stateFolder = path("state").toStdString();
    options.log = [this](std::string_view line) {
      std::lock_guard lock(logMutex_);
      logLines_.emplace_back(line);
    };
    service_ = std::make_unique<ReferenceService>(options, scenario);
    service_->start();
  }

  ReferenceService& service() { return *service_; }
  QString path(const char* relative) const { return dir_.filePath(QString::fromUtf8(relative)); }

  // A request on a connection of its own, as it came off the wire.
  WireAnswer raw(const std::string& request,
                 std::chrono::milliseconds deadline = std::chrono::seconds(10)) const {
    return rawExchange(service_->port(), service_->caFile(), request, deadline);
  }

  std::vector<std::string> logLines() {
    std::lock_guard lock(logMutex_);
    return logLines_;
  }

  QTemporaryDir dir_;
  const std::string installer_ = patternBytes(300'000);

 private:
  std::mutex logMutex_;
  std::vector<std::string> logLines_;
  std::unique_ptr<ReferenceService> service_;
};

}  // namespace refservice::testing
