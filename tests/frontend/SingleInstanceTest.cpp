#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <future>

#include "frontend/SingleInstance.h"
#include "tests/support/EventLoop.h"

namespace ov::test {
namespace {

using namespace std::chrono_literals;
using Claim = SingleInstance::Claim;

const QString kKey = QStringLiteral("com.orvalen.OVDownloader");

// A second copy would download into the same part files as the first.
TEST(SingleInstance, ASecondCopyOfTheFolderBringsTheFirstForwardAndWaitsForItsLock) {
  QTemporaryDir folder;
  SingleInstance first(kKey, folder.filePath(kKey));
  ASSERT_EQ(first.acquire(), Claim::Acquired);
  int requests = 0;
  QObject::connect(&first, &SingleInstance::activationRequested, [&] { ++requests; });
  SingleInstance elsewhere(kKey, folder.filePath(QStringLiteral("elsewhere")));
  EXPECT_EQ(elsewhere.acquire(), Claim::Acquired) << "copies of other folders do not meet";

  SingleInstance second(kKey, folder.filePath(kKey));
  ASSERT_EQ(second.acquire(), Claim::HeldElsewhere);
  // The first copy answers from its event loop, which this thread runs.
  auto answered = std::async(std::launch::async, [&] { return second.activateRunningInstance(5s); });
  ASSERT_TRUE(runEventLoopUntil([&] { return answered.wait_for(0s) == std::future_status::ready; }));
  EXPECT_TRUE(answered.get());
  EXPECT_EQ(requests, 1);

  first.release();
  EXPECT_EQ(second.acquire(), Claim::Acquired);
  EXPECT_FALSE(first.activateRunningInstance(200ms)) << "nobody answers for a copy that let go";
}

TEST(SingleInstance, ALockOfADeadProcessIsTakenOverAndAnUnmakeableFolderIsAFailure) {
  QTemporaryDir folder;
  QDir().mkpath(folder.filePath(kKey));
  QFile stale(folder.filePath(kKey + QStringLiteral("/.OVDownloader.lock")));
  ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
  // A process number beyond the kernel's limit cannot be running.
  stale.write("4999999\nOVDownloader\n" + QSysInfo::machineHostName().toUtf8() + "\n");
  stale.close();
  EXPECT_EQ(SingleInstance(kKey, folder.filePath(kKey)).acquire(), Claim::Acquired);
  QFile blocker(folder.filePath(QStringLiteral("blocker")));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  EXPECT_EQ(SingleInstance(kKey, blocker.fileName() + QStringLiteral("/inside")).acquire(), Claim::Failed);
}

}  // namespace
}  // namespace ov::test
