#pragma once

// The end-to-end fixture: a sandboxed home, one installer served by the
// reference service, and a run of the real program bundle against it.

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <algorithm>
#include <functional>
#include <memory>

#include "tests/e2e/ProgramRun.h"
#include "tests/support/ServiceTest.h"

namespace ov::test {

using refservice::RequestRecord;

constexpr auto kRunLimit = 120s;  // the countdown alone is 15 s

class EndToEnd : public SandboxedTest {
 protected:
  // Serves a file of `size` random bytes as "OrvalenSetup.pkg".
  void serve(std::int64_t size, const std::function<void(refservice::Scenario&)>& change = nullptr) {
    const QByteArray bytes = QByteArray::fromStdString(patternBytes(size, static_cast<std::uint32_t>(size)));
    installer = sandbox_->writeFile(QStringLiteral("served/OrvalenSetup.pkg"), bytes);
    sourceDigest = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);

    refservice::ServiceOptions options;
    options.installerFiles = {installer.toStdString()};
    options.log = [](std::string_view) {};
    refservice::Scenario scenario;
    if (change) change(scenario);
    service = std::make_unique<refservice::ReferenceService>(options, scenario);
    service->start();
    program = std::make_unique<ProgramRun>(*sandbox_, *service);
  }

  std::vector<RequestRecord> posts(const std::string& endpoint) const { return postsTo(*service, endpoint); }

  QString landed() const { return sandbox_->downloads() + QStringLiteral("/OrvalenSetup.pkg"); }

  void expectByteIdentical() const {
    QFile file(landed());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << landed().toStdString();
    EXPECT_EQ(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256), sourceDigest);
  }

  QString temporaryFolder() const {
    return program->supportFolder() + QStringLiteral("/OrvalenSetup_TempFiles");
  }
  void expectNoTemporaryFolder() const { EXPECT_FALSE(QDir(temporaryFolder()).exists()); }

  // Whether the service has sent some of the installer's bytes: the transfer is under way.
  bool waitForInstallerBytes() const {
    return service->waitForRequests(
        [](const auto& records) {
          return std::any_of(records.begin(), records.end(),
                             [](const auto& r) { return r.method == "GET" && r.bytesSent > 0; });
        },
        60s);
  }

  QString installer;
  QByteArray sourceDigest;
  std::unique_ptr<refservice::ReferenceService> service;
  std::unique_ptr<ProgramRun> program;
};

}  // namespace ov::test
