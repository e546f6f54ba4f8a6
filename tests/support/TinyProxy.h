#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>

#include "tests/support/ChildProcess.h"
#include "tests/support/Sandbox.h"

namespace ov::test {

// A real HTTP proxy for one test: Debian's tinyproxy on loopback, in the
// foreground, with a configuration of the test's own in a temporary folder:
// any free port, and with `login` set, Basic authentication for that user name
// and password. Its log names every request it was asked to carry.
class TinyProxy {
 public:
  struct Login {
    QString user;
    QString password;
  };

  explicit TinyProxy(std::optional<Login> login = std::nullopt) {
    if (!folder_.isValid()) throw std::runtime_error("cannot make the proxy's folder");
    port_ = freePort();
    QByteArray config = "Port " + QByteArray::number(port_) +
                        "\nListen 127.0.0.1\nTimeout 60\nMaxClients 100\nAllow 127.0.0.1\n"
                        "DisableViaHeader Yes\nLogLevel Connect\nLogFile \"" +
                        QFile::encodeName(logPath()) + "\"\n";
    if (login) config += "BasicAuth " + login->user.toUtf8() + ' ' + login->password.toUtf8() + '\n';
    writeWholeFile(folder_.filePath(QStringLiteral("tinyproxy.conf")), config);
    process_ = std::make_unique<ChildProcess>(QStringLiteral("tinyproxy"),
                                              QStringList{QStringLiteral("-d"), QStringLiteral("-c"),
                                                          folder_.filePath(QStringLiteral("tinyproxy.conf"))},
                                              folder_.filePath(QStringLiteral("stdout.txt")));
    if (!process_->started() || !waitUntilListening()) throw std::runtime_error("tinyproxy did not start");
  }

  int port() const { return port_; }
  // "127.0.0.1:PORT"
  QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }

  // The places the proxy was asked to CONNECT to ("localhost:8443"), in order.
  QStringList connects() const {
    QStringList places;
    static const QRegularExpression request(
        QStringLiteral(R"(Request \(file descriptor \d+\): CONNECT (\S+) )"));
    for (const auto& match : request.globalMatch(log())) places << match.captured(1);
    return places;
  }

  QString log() const {
    QFile file(logPath());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
  }

 private:
  QString logPath() const { return folder_.filePath(QStringLiteral("tinyproxy.log")); }

  // A port nothing listens on now; tinyproxy takes it a moment later.
  static int freePort() {
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (socket < 0 || ::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      throw std::runtime_error("no free port for the proxy");
    ::close(socket);
    return ntohs(address.sin_port);
  }

  // tinyproxy says nothing when it listens: it is ready when a connection is accepted.
  bool waitUntilListening() const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      QTcpSocket probe;
      probe.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(port_));
      if (probe.waitForConnected(1000)) return true;
    }
    return false;
  }

  QTemporaryDir folder_;
  int port_ = 0;
  std::unique_ptr<ChildProcess> process_;
};

}  // namespace ov::test
