#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tools/refservice/RequestRecord.h"
#include "tools/refservice/Scenario.h"

namespace refservice {

struct ServiceOptions {
  std::string bindAddress = "127.0.0.1";
  int port = 0;  // 0: any free port
  // Installers: the regular files in this folder, and these files by base name.
  std::string installersFolder;
  std::vector<std::string> installerFiles;
  // A given certificate and key (PEM). Without them a throw-away CA and a
  // server certificate for localhost, 127.0.0.1 and bindAddress are made.
  std::string certificateFile;
  std::string keyFile;
  std::string caFile;  // the given certificate's CA; empty: the certificate itself
  // Where made certificates go (ca.pem, server.pem, server.key); empty: a
  // temporary folder that the service removes when it is destroyed.
  std::string stateFolder;
  // The record of requests as JSON lines, one per finished answer; empty: none.
  std::string recordFile;
  // Receives whole log lines (rejected requests, notes), from any thread, one
  // call at a time. Unset: lines go to standard error.
  std::function<void(std::string_view)> log;
  bool logEveryRequest = false;
  // Worker threads; each holds one connection for its keep-alive life.
  std::size_t threads = 64;
  std::chrono::seconds keepAliveTimeout{10};
  // How long a write may wait for a client that does not read (a paused download).
  std::chrono::seconds writeTimeout{60};
};

// The reference download service: an HTTPS server on this machine that
// answers the five POST endpoints of the download service and serves
// installers under "/installers/NAME" with HEAD and byte ranges, as the
// scenario says, and records every request.
//
// Threads: start() and stop() belong to the owner; every other member may be
// called from any thread, also while requests are being answered. A record's
// status, headers and fields are in place before its answer is written;
// bytesSent and outcome follow the body, so wait for them with waitForRequests().
class ReferenceService {
 public:
  explicit ReferenceService(ServiceOptions options = {}, Scenario scenario = {});
  ~ReferenceService();
  ReferenceService(const ReferenceService&) = delete;
  ReferenceService& operator=(const ReferenceService&) = delete;

  // Makes or loads the certificates, binds and starts answering. Once per
  // object. Throws std::runtime_error (bind failure, bad certificate files).
  void start();
  // Ends held and paced answers, closes every connection and joins the
  // server's threads. Idempotent; the destructor calls it.
  void stop();
  bool isRunning() const;

  int port() const;
  std::string baseUrl() const;      // "https://127.0.0.1:PORT"
  std::string hostAndPort() const;  // "127.0.0.1:PORT"
  std::string caFile() const;       // the CA file for OVDOWNLOADER_CA_FILE
  std::string installerUrl(const std::string& name) const;

  Scenario scenario() const;
  void setScenario(Scenario scenario);
  void updateScenario(const std::function<void(Scenario&)>& change);
  // Holds or releases the installer bodies (InstallerFaults::hold).
  void setHold(bool hold);
  // Restarts the request counts that faults refer to and re-arms Once faults.
  void resetCounters();
  // The most installer bodies that were being sent at once, since the start or
  // resetCounters(): a body counts from its answer's start until just before
  // its last byte goes out, or until its connection ends.
  std::int64_t peakOpenInstallerBodies() const;

  std::vector<RequestRecord> requests() const;
  void clearRequests();
  // Waits until `predicate` holds for the records or `timeout` passes; gives
  // the predicate's last value. The predicate must not call into the service.
  bool waitForRequests(const std::function<bool(const std::vector<RequestRecord>&)>& predicate,
                       std::chrono::milliseconds timeout) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace refservice
