#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <future>

#include "app/SingleInstance.h"
#include "tests/support/EventLoop.h"

namespace {

using namespace std::chrono_literals;

class SingleInstanceTest : public ::testing::Test {
 protected:
  QTemporaryDir folder_;
  QString parts() const { return folder_.path() + QStringLiteral("/com.orvalen.OVDownloader"); }
};

TEST_F(SingleInstanceTest, ASecondCopyFindsTheLockTakenUntilTheFirstLetsGo) {
  SingleInstance first(QStringLiteral("com.orvalen.OVDownloader"), parts());
  ASSERT_EQ(first.acquire(), SingleInstance::Claim::Acquired);
  EXPECT_TRUE(QFile::exists(first.lockFilePath()));

  SingleInstance second(QStringLiteral("com.orvalen.OVDownloader"), parts());
  EXPECT_EQ(second.acquire(), SingleInstance::Claim::HeldElsewhere);

  first.release();
  EXPECT_EQ(second.acquire(), SingleInstance::Claim::Acquired);
}

TEST_F(SingleInstanceTest, AFolderThatCannotBeMadeIsAFailureNotAnotherCopy) {
  QFile blocker(parts());
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  SingleInstance copy(QStringLiteral("com.orvalen.OVDownloader"), parts() + QStringLiteral("/inside"));
  EXPECT_EQ(copy.acquire(), SingleInstance::Claim::Failed);
}

TEST_F(SingleInstanceTest, CopiesOfOtherFoldersDoNotMeet) {
  SingleInstance first(QStringLiteral("com.orvalen.OVDownloader"), parts());
  SingleInstance other(QStringLiteral("com.orvalen.OVDownloader"),
                       folder_.path() + QStringLiteral("/elsewhere"));
  ASSERT_EQ(first.acquire(), SingleInstance::Claim::Acquired);
  EXPECT_EQ(other.acquire(), SingleInstance::Claim::Acquired);
  EXPECT_NE(first.serverName(), other.serverName());
}

TEST_F(SingleInstanceTest, TheSecondCopyBringsTheFirstOnesWindowForward) {
  SingleInstance first(QStringLiteral("com.orvalen.OVDownloader"), parts());
  ASSERT_EQ(first.acquire(), SingleInstance::Claim::Acquired);
  int requests = 0;
  QObject::connect(&first, &SingleInstance::activationRequested, [&] { ++requests; });

  SingleInstance second(QStringLiteral("com.orvalen.OVDownloader"), parts());
  ASSERT_EQ(second.acquire(), SingleInstance::Claim::HeldElsewhere);
  // The first copy answers from its event loop, which this thread runs.
  auto answered = std::async(std::launch::async, [&] { return second.activateRunningInstance(5s); });
  ASSERT_TRUE(
      ov::test::runEventLoopUntil([&] { return answered.wait_for(0s) == std::future_status::ready; }, 10s));
  EXPECT_TRUE(answered.get());
  EXPECT_EQ(requests, 1);
}

TEST_F(SingleInstanceTest, NobodyAnswersWhenNoCopyRuns) {
  SingleInstance lone(QStringLiteral("com.orvalen.OVDownloader"), parts());
  EXPECT_FALSE(lone.activateRunningInstance(200ms));
}

TEST_F(SingleInstanceTest, ALockLeftByADeadProcessIsTakenOver) {
  QDir().mkpath(parts());
  QFile stale(parts() + QStringLiteral("/.OVDownloader.lock"));
  ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
  // A process number beyond the kernel's limit cannot be running.
  stale.write("4999999\nOVDownloader\n" + QSysInfo::machineHostName().toUtf8() + "\n");
  stale.close();
  SingleInstance copy(QStringLiteral("com.orvalen.OVDownloader"), parts());
  EXPECT_EQ(copy.acquire(), SingleInstance::Claim::Acquired);
}

}  // namespace
