#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/OVDownloadMgr.h"
#include "platform/HttpClient.h"
#include "service/ServiceRequest.h"
#include "tests/support/EventLoop.h"
#include "tests/support/LocalService.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"
#include "tools/refservice/ReferenceService.h"

namespace ov::test {

// Records what the engine tells the window; every call arrives on the main thread.
class RecordingProxy : public DownloadProxy {
 public:
  void onDownloadProgress(double progress) override {
    std::lock_guard lk(mutex_);
    progress_.push_back(progress);
  }
  void onFileCompleteDownload() override {
    std::lock_guard lk(mutex_);
    ++completed_;
  }
  void onDownloadFailed(ERROR_Code code) override {
    std::lock_guard lk(mutex_);
    failures_.push_back(code);
  }
  bool checkRetryDownload() override { return false; }

  std::vector<ERROR_Code> failures() const {
    std::lock_guard lk(mutex_);
    return failures_;
  }
  std::vector<double> progress() const {
    std::lock_guard lk(mutex_);
    return progress_;
  }
  int completed() const {
    std::lock_guard lk(mutex_);
    return completed_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<double> progress_;
  std::vector<ERROR_Code> failures_;
  int completed_ = 0;
};

// A sandboxed home, the reference service serving one installer on loopback
// (the program's service host while the fixture lives), captured log lines and
// a fresh manager with the product data of a real MakeInfo.ini.
class ServiceFixture : public ::testing::Test {
 protected:
  static constexpr std::int64_t kInstallerSize = 1'000'003;

  void SetUp() override {
    const QString installer = sandbox.path(QStringLiteral("served/Setup.pkg"));
    QDir().mkpath(QFileInfo(installer).absolutePath());
    QFile file(installer);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(kInstallerSize, 'x'));
    file.close();

    refservice::ServiceOptions options;
    options.installerFiles = {installer.toStdString()};
    options.log = [](std::string_view) {};
    service = std::make_unique<ov::test::LocalService>(options);

    manager = OVDownloadMgr::makeForTesting();
    manager->product = QStringLiteral("BrindleCutter");
    manager->version = QStringLiteral("21.0");
    manager->versionType = QStringLiteral("Retail");
    manager->sr = QStringLiteral("SR-1");
    manager->language = QStringLiteral("ENU");
  }

  void TearDown() override {
    manager.reset();
    service.reset();
  }

  void setScenario(const std::function<void(refservice::Scenario&)>& change) {
    service->updateScenario(change);
  }

  std::vector<refservice::RequestRecord> requestsTo(const std::string& endpoint) const {
    std::vector<refservice::RequestRecord> matching;
    for (auto& record : service->requests())
      if (record.path == "/prog/util/downloader/" + endpoint) matching.push_back(record);
    return matching;
  }

  // Waits until the service has seen `count` requests to `endpoint`.
  bool waitForRequests(const std::string& endpoint, size_t count) const {
    return service->waitForRequests(
        [&](const auto& records) {
          return static_cast<size_t>(std::count_if(records.begin(), records.end(), [&](const auto& r) {
                   return r.path == "/prog/util/downloader/" + endpoint &&
                          r.outcome != refservice::Outcome::Pending;
                 })) >= count;
        },
        std::chrono::seconds(10));
  }

  Sandbox sandbox;
  LogCapture log;
  std::unique_ptr<ov::test::LocalService> service;
  std::unique_ptr<OVDownloadMgr> manager;
};

}  // namespace ov::test
