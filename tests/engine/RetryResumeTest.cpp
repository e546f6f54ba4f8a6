// Transient faults are retried inside the round, and nothing that arrived is
// fetched twice: not by a retry, not by the Retry after a failed round, not by
// the next launch.

#include "tests/engine/EngineFixture.h"

namespace enginetest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace std::chrono_literals;

std::string range(std::int64_t first, std::int64_t last) {
  return "bytes=" + std::to_string(first) + "-" + std::to_string(last);
}

enum class During { Nothing, PauseAWhile, Cancel };

struct RetryCase {
  const char* name;
  std::int64_t size;
  std::function<void(refservice::Scenario&)> scenario;
  bool delivered;
  int requests;  // GETs the service sees
  int retries;   // retry lines printed
  During during = During::Nothing;
  bool narrowed = false;             // the retry asks only for the bytes after those it kept
  std::chrono::milliseconds gap{0};  // the least wait before the retry (a Retry-After)
};

void PrintTo(const RetryCase& c, std::ostream* out) {
  *out << c.name;
}

class Retry : public EngineTest, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(Retry, TransientFaultsHealInsideTheRoundOthersFailAtOnce) {
  const RetryCase& c = GetParam();
  addInstaller(QStringLiteral("Setup.pkg"), c.size);
  const QString served = installerPath(QStringLiteral("Setup.pkg"));
  prepare(QString::fromStdString(service_->installerUrl("Setup.pkg")), c.size);
  service_->updateScenario(c.scenario);
  startDownload();
  const QString retryLine = QStringLiteral("OVDownloadMgr::doDownload() retry");
  const auto retriesSeen = [&] { return log_->outputLines().filter(retryLine).size(); };
  if (c.during == During::PauseAWhile) {
    ASSERT_TRUE(waitFor([&] { return retriesSeen() == 1; }));
    mgr_->PauseDownload();
    settle(1500ms);  // longer than the Retry-After of 1 s
    EXPECT_EQ(chunkRequests().size(), 1u) << "no retry while paused";
    mgr_->ResumeDownload();
  }
  if (c.during == During::Cancel) {
    ASSERT_TRUE(waitFor([&] { return retriesSeen() == 1; }));
    mgr_->CancelDownload(false);
    settle(1500ms);
  } else {
    ASSERT_TRUE(waitForOutcome());
    settle();
  }

  EXPECT_EQ(static_cast<int>(chunkRequests().size()), c.requests);
  EXPECT_EQ(static_cast<int>(retriesSeen()), c.retries);
  if (c.delivered) {
    EXPECT_THAT(proxy_->failures(), IsEmpty());
    EXPECT_TRUE(sameFileContents(downloadsPath(QStringLiteral("Setup.pkg")), served));
  } else {
    const std::vector<ERROR_Code> failures =
        c.during == During::Cancel ? std::vector<ERROR_Code>{} : std::vector{ERROR_Code::E_DOWNLOAD_FAILED};
    EXPECT_EQ(proxy_->failures(), failures);
    EXPECT_TRUE(toolkit_->openedUrls().empty());
  }
  // A retry asks with the same validator, after the bytes it already has.
  const auto requests = chunkRequests();
  for (std::size_t i = 1; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].header("If-Range"), mgr_->szETag.toStdString());
    if (c.narrowed) {
      EXPECT_NE(requests[i].range, range(0, c.size - 1));
      EXPECT_TRUE(requests[i].range.ends_with("-" + std::to_string(c.size - 1))) << requests[i].range;
    }
    EXPECT_GE(requests[i].sinceStart - requests[i - 1].sinceStart, c.gap);
  }
}

constexpr std::int64_t kOneMegabyte = 1'000'000;

RetryCase statusOnce(const char* name, int status) {
  return {name,
          kOneMegabyte,
          [status](refservice::Scenario& s) {
            s.installer.failAtRequest = 1;
            s.installer.failStatus = status;
          },
          true,
          2,
          1};
}

INSTANTIATE_TEST_SUITE_P(
    Faults, Retry,
    ::testing::Values(RetryCase{"DropOnce", kOneMegabyte,
                                [](refservice::Scenario& s) {
                                  s.installer.dropAfterBytes = 100'000;
                                  s.installer.dropRepeat = refservice::Repeat::Once;
                                },
                                true, 2, 1, During::Nothing, true},
                      // Each attempt gets 100,000 bytes further; the fourth drop is one too many.
                      RetryCase{"DropsBeyondTheRetries", kOneMegabyte,
                                [](refservice::Scenario& s) { s.installer.dropAfterBytes = 100'000; }, false,
                                4, 3},
                      RetryCase{"NotFoundIsNotRetried", kOneMegabyte,
                                [](refservice::Scenario& s) { s.installer.failAtRequest = 1; }, false, 1, 0},
                      statusOnce("RequestTimeout408", 408), statusOnce("TooManyRequests429", 429),
                      statusOnce("ServerError500", 500), statusOnce("BadGateway502", 502),
                      statusOnce("GatewayTimeout504", 504),
                      RetryCase{"ServiceUnavailableWithRetryAfter", kOneMegabyte,
                                [](refservice::Scenario& s) {
                                  s.installer.failAtRequest = 1;
                                  s.installer.failStatus = 503;
                                  s.installer.retryAfter = 1;
                                },
                                true, 2, 1, During::Nothing, false, 900ms},
                      // The probe was installer request 1, the first GET 2: the retry meets a new tag.
                      RetryCase{"ChangedEtagIsNotRetried", kOneMegabyte,
                                [](refservice::Scenario& s) {
                                  s.installer.dropAfterBytes = 100'000;
                                  s.installer.dropRepeat = refservice::Repeat::Once;
                                  s.installer.etagChangesAfter = 2;
                                },
                                false, 2, 1},
                      RetryCase{"PausedDuringTheBackOff", kOneMegabyte,
                                [](refservice::Scenario& s) {
                                  s.installer.failAtRequest = 1;
                                  s.installer.failStatus = 503;
                                  s.installer.retryAfter = 1;
                                },
                                true, 2, 1, During::PauseAWhile},
                      RetryCase{"CancelledDuringTheBackOff", kOneMegabyte,
                                [](refservice::Scenario& s) {
                                  s.installer.failAtRequest = 1;
                                  s.installer.failStatus = 503;
                                  s.installer.retryAfter = 1;
                                },
                                false, 1, 1, During::Cancel}),
    [](const auto& info) { return std::string(info.param.name); });

class Resume;

// A first attempt fails with chunk 2 of 5 missing; a second one (the dialog's
// Retry, or the next launch after whatever happened in between) follows.
struct ResumeCase {
  const char* name;
  bool relaunch;                           // a new process: a new manager and a new probe
  std::function<void(Resume&)> inBetween;  // what happens to the files or the server meanwhile
  bool onlyTheMissingChunk;                // otherwise everything is fetched again
};

void PrintTo(const ResumeCase& c, std::ostream* out) {
  *out << c.name;
}

class Resume : public EngineTest, public ::testing::WithParamInterface<ResumeCase> {
 public:
  using EngineTest::addInstaller;
  using EngineTest::installerPath;
  using EngineTest::tempFolder;

 protected:
  void relaunch() {
    mgr_.reset();
    proxy_ = std::make_shared<RecordingProxy>();
    mgr_ = OVDownloadMgr::makeForTesting();
    configure();
    ready_ = 0;
    ASSERT_TRUE(prepareForReal());
  }
  void configure() {
    mgr_->downloadDelegate.set(proxy_);
    mgr_->chunkRetryPolicy.delays = {20ms};
  }
};

TEST_P(Resume, NothingThatArrivedIsFetchedTwiceUnlessItCannotBeTrusted) {
  const ResumeCase& c = GetParam();
  constexpr std::int64_t size = 4 * kChunk + 4321;
  addInstaller(QStringLiteral("Setup.pkg"), size);
  const QString served = installerPath(QStringLiteral("Setup.pkg"));
  ASSERT_TRUE(prepareForReal());
  service_->updateScenario([](refservice::Scenario& s) { s.installer.failAtByte = 2 * kChunk; });
  startDownload();
  ASSERT_TRUE(waitForOutcome());
  ASSERT_THAT(proxy_->failures(), ElementsAre(ERROR_Code::E_DOWNLOAD_FAILED));
  settle();

  service_->updateScenario([](refservice::Scenario& s) { s.installer.failAtByte.reset(); });
  if (c.inBetween) c.inBetween(*this);
  if (c.relaunch) {
    relaunch();
  } else {
    proxy_ = std::make_shared<RecordingProxy>();
    mgr_->downloadDelegate.set(proxy_);
  }
  service_->clearRequests();
  startDownload();
  ASSERT_TRUE(waitFor([&] { return toolkit_->terminateCount() > 0 || !proxy_->failures().empty(); }));

  EXPECT_THAT(proxy_->failures(), IsEmpty());
  EXPECT_TRUE(sameFileContents(downloadsPath(QStringLiteral("Setup.pkg")), served));
  if (c.onlyTheMissingChunk) {
    EXPECT_THAT(chunkRanges(), ElementsAre(range(2 * kChunk, 3 * kChunk - 1)));
  } else {
    EXPECT_EQ(chunkRanges().size(), static_cast<std::size_t>(mgr_->dataChuckCount));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Attempts, Resume,
    ::testing::Values(
        ResumeCase{"RetryInTheSameRun", false, nullptr, true}, ResumeCase{"NextLaunch", true, nullptr, true},
        ResumeCase{"ChangedEtag", true,
                   [](Resume& t) {
                     // A new modification time is a new tag.
                     QFile file(t.installerPath(QStringLiteral("Setup.pkg")));
                     file.open(QIODevice::ReadWrite);
                     file.setFileTime(QDateTime::currentDateTime().addSecs(60),
                                      QFileDevice::FileModificationTime);
                   },
                   false},
        ResumeCase{"ChangedSize", true,
                   [](Resume& t) { t.addInstaller(QStringLiteral("Setup.pkg"), 4 * kChunk + 4322); }, false},
        ResumeCase{"TruncatedPart", true,
                   [](Resume& t) { QFile::resize(t.tempFolder() + QStringLiteral("/Setup.pkg.3"), 1000); },
                   false},
        ResumeCase{"GarbledStateFile", true,
                   [](Resume& t) {
                     writeWholeFile(t.tempFolder() + QStringLiteral("/Setup.pkg.state"), "[Transfer\\n==");
                   },
                   false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace enginetest
