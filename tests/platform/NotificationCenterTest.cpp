#include <gtest/gtest.h>

#include <QStringList>
#include <thread>

#include "platform/NotificationCenter.h"

namespace ov {
namespace {

// A private center per test: the default one is shared with everything else in the process.
class NotificationCenterTest : public ::testing::Test {
 protected:
  NotificationCenter center;
  QStringList heard;

  NotificationCenter::Token listen(const QString& name, const QString& who) {
    return center.addObserver(name, [this, who] { heard << who; });
  }
};

TEST_F(NotificationCenterTest, PostReachesObserversOfThatNameOnlyInRegistrationOrder) {
  listen(QStringLiteral("ReadyToDownload"), QStringLiteral("a"));
  listen(QStringLiteral("QuitOVDownloader"), QStringLiteral("q"));
  listen(QStringLiteral("ReadyToDownload"), QStringLiteral("b"));
  listen(QStringLiteral("readytodownload"), QStringLiteral("case"));

  center.post(QStringLiteral("ReadyToDownload"));
  EXPECT_EQ(heard, (QStringList{QStringLiteral("a"), QStringLiteral("b")}));

  heard.clear();
  center.post(QStringLiteral("QuitOVDownloader"));
  EXPECT_EQ(heard, QStringList{QStringLiteral("q")});

  heard.clear();
  center.post(QStringLiteral("Nobody"));
  EXPECT_TRUE(heard.isEmpty());
}

TEST_F(NotificationCenterTest, RemovedObserverHearsNothingMoreAndOthersStill) {
  const auto a = listen(QStringLiteral("N"), QStringLiteral("a"));
  listen(QStringLiteral("N"), QStringLiteral("b"));
  center.removeObserver(a);
  center.removeObserver(a);
  center.removeObserver(987654);
  center.post(QStringLiteral("N"));
  EXPECT_EQ(heard, QStringList{QStringLiteral("b")});
}

TEST_F(NotificationCenterTest, ObserversMayChangeRegistrationsWhileBeingNotified) {
  NotificationCenter::Token self = 0;
  self = center.addObserver(QStringLiteral("N"), [&] {
    heard << QStringLiteral("once");
    center.removeObserver(self);
    center.addObserver(QStringLiteral("N"), [&] { heard << QStringLiteral("late"); });
  });
  center.post(QStringLiteral("N"));
  EXPECT_EQ(heard, QStringList{QStringLiteral("once")});
  center.post(QStringLiteral("N"));
  EXPECT_EQ(heard, (QStringList{QStringLiteral("once"), QStringLiteral("late")}));
}

TEST_F(NotificationCenterTest, ObserversRunSynchronouslyOnThePostingThread) {
  std::thread::id observerThread;
  center.addObserver(QStringLiteral("N"), [&] { observerThread = std::this_thread::get_id(); });
  std::thread::id posterThread;
  std::thread poster([&] {
    posterThread = std::this_thread::get_id();
    center.post(QStringLiteral("N"));
  });
  poster.join();
  EXPECT_EQ(observerThread, posterThread);
}

TEST(DefaultNotificationCenter, IsOneInstance) {
  EXPECT_EQ(&NotificationCenter::defaultCenter(), &NotificationCenter::defaultCenter());
}

}  // namespace
}  // namespace ov
