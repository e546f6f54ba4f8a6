// Transient faults are retried inside the request, and nothing that arrived
// is fetched twice: not by a retry, not by the Retry after a failed download,
// not by the next launch.

#include <set>

#include <sys/stat.h>

#include "tests/support/Rows.h"
#include "tests/support/ServiceTest.h"

namespace ov::test {
namespace {

using test::PrintTo;

// Less than the window ever splits: one request, and its retries, carry it.
constexpr std::int64_t kInstallerSize = 500'000;

enum class During { Nothing, PauseAWhile, Cancel };

struct RetryCase {
  const char* name;
  std::function<void(refservice::Scenario&)> scenario;
  bool delivered;
  int requests;  // GETs the service sees
  int retries;   // retry lines printed
  During during = During::Nothing;
  bool narrowed = false;             // the retry asks only for the bytes after those it kept
  std::chrono::milliseconds gap{0};  // the least wait before the retry (a Retry-After)
};

class Retry : public ServiceTest, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(Retry, TransientFaultsHealInsideTheRequestOthersFailAtOnce) {
  const RetryCase& c = GetParam();
  prepare(addInstaller(kSetup, kInstallerSize), kInstallerSize);
  setScenario(c.scenario);
  startDownload();
  const QString retryLine = QStringLiteral("OVDownloadMgr::doDownload() retry");
  const auto retriesSeen = [&] { return log_->outputLines().filter(retryLine).size(); };
  ASSERT_TRUE(c.during == During::Nothing || waitFor([&] { return retriesSeen() == 1; }));
  if (c.during == During::PauseAWhile) {
    mgr_->PauseDownload();
    settle(2500ms);  // longer than the Retry-After
    EXPECT_EQ(chunkRequests().size(), 1u) << "no retry while paused";
    mgr_->ResumeDownload();
  }
  if (c.during == During::Cancel) {
    mgr_->CancelDownload(false);
    settle(2500ms);
  } else {
    ASSERT_TRUE(waitForOutcome());
    settle();
  }

  EXPECT_EQ(static_cast<int>(chunkRequests().size()), c.requests);
  EXPECT_EQ(static_cast<int>(retriesSeen()), c.retries);
  if (c.delivered) {
    EXPECT_THAT(proxy_->failures(), IsEmpty());
    EXPECT_TRUE(sameFileContents(downloadsPath(kSetup), installerPath(kSetup)));
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
      EXPECT_NE(requests[i].range, byteRange(0, kInstallerSize - 1));
      EXPECT_TRUE(requests[i].range.ends_with("-" + std::to_string(kInstallerSize - 1))) << requests[i].range;
    }
    EXPECT_GE(requests[i].sinceStart - requests[i - 1].sinceStart, c.gap);
  }
}

using Faults = refservice::InstallerFaults;

std::function<void(refservice::Scenario&)> on(std::function<void(Faults&)> change) {
  return [change](refservice::Scenario& s) { change(s.installer); };
}

// The first chunk request fails once with `status`, asking to wait `retryAfter` seconds.
std::function<void(refservice::Scenario&)> failsOnce(int status,
                                                     std::optional<int> retryAfter = std::nullopt) {
  return on([=](Faults& f) { f.failAtRequest = 1, f.failStatus = status, f.retryAfter = retryAfter; });
}

const std::vector<RetryCase> kRetries = {
    {"DropOnce", on([](Faults& f) { f.dropAfterBytes = 100'000, f.dropRepeat = refservice::Repeat::Once; }),
     true, 2, 1, During::Nothing, true},
    // Each attempt gets 100,000 bytes further; the fourth drop is one too many.
    {"DropsBeyondTheRetries", on([](Faults& f) { f.dropAfterBytes = 100'000; }), false, 4, 3},
    {"NotFoundIsNotRetried", failsOnce(404), false, 1, 0},
    {"RequestTimeout408", failsOnce(408), true, 2, 1},
    {"TooManyRequests429", failsOnce(429), true, 2, 1},
    {"ServerError500", failsOnce(500), true, 2, 1},
    {"BadGateway502", failsOnce(502), true, 2, 1},
    {"GatewayTimeout504", failsOnce(504), true, 2, 1},
    {"ServiceUnavailableWithRetryAfter", failsOnce(503, 1), true, 2, 1, During::Nothing, false, 900ms},
    // The probe was installer request 1, the first GET 2: the retry meets a new tag.
    {"ChangedEtagIsNotRetried", on([](Faults& f) {
       f.dropAfterBytes = 100'000, f.dropRepeat = refservice::Repeat::Once, f.etagChangesAfter = 2;
     }),
     false, 2, 1},
    {"PausedDuringTheBackOff", failsOnce(503, 2), true, 2, 1, During::PauseAWhile},
    {"CancelledDuringTheBackOff", failsOnce(503, 2), false, 1, 1, During::Cancel},
};

INSTANTIATE_TEST_SUITE_P(Faults, Retry, ::testing::ValuesIn(kRetries), rowName);

class Resume;

using Chunks = std::set<std::int64_t>;
const Chunks kEveryChunk;

// A first attempt fails with chunk 2 of 5 missing, chunks 0 and 1 in the
// installer and 3 and 4 waiting on disk; a second one (the dialog's Retry,
// which asks for the link and the size again, or the next launch after
// whatever happened in between) follows.
struct ResumeCase {
  const char* name;
  bool relaunch;                           // a new process: a new manager and a new preparation
  std::function<void(Resume&)> inBetween;  // what happens to the files or the server meanwhile
  Chunks fetched;                          // the chunks fetched again; none named: every chunk
};

class Resume : public ServiceTest, public ::testing::WithParamInterface<ResumeCase> {
 public:
  using ServiceTest::addInstaller;
  using ServiceTest::installerPath;
  using ServiceTest::setScenario;
  using ServiceTest::tempFolder;
};

TEST_P(Resume, NothingThatArrivedIsFetchedTwiceUnlessItCannotBeTrusted) {
  const ResumeCase& c = GetParam();
  constexpr std::int64_t size = 4 * kChunk + 4321;
  addInstaller(kSetup, size);
  const QString served = installerPath(kSetup);
  ASSERT_TRUE(prepareForReal());
  // Chunk 2 waits before its first byte while the others arrive; then its
  // connection drops, and its retry is refused.
  setScenario(
      [](refservice::Scenario& s) { s.installer.hold = true, s.installer.holdRanges = {2 * kChunk}; });
  startDownload();
  ASSERT_TRUE(waitFor([&] { return tasksLeft() == 1 && heldRequests() == 1; }));
  setScenario([](refservice::Scenario& s) {
    s.installer.dropOnRelease = true, s.installer.failAtByte = 2 * kChunk, s.installer.hold = false;
  });
  ASSERT_TRUE(waitForOutcome());
  ASSERT_THAT(proxy_->failures(), ElementsAre(ERROR_Code::E_DOWNLOAD_FAILED));
  settle();
  // What a later attempt trusts is the user's alone, the state with its (maybe signed) link above all.
  const auto mode = [](const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
  };
  EXPECT_EQ(mode(QFileInfo(saveLocation()).path()), 0700u);
  EXPECT_EQ(mode(tempFolder()), 0700u);
  EXPECT_EQ(mode(tempFolder() + QStringLiteral("/Setup.pkg.state")), 0600u);

  setScenario([](refservice::Scenario& s) { s.installer = {}; });
  service_->clearRequests();
  if (c.inBetween) c.inBetween(*this);
  proxy_ = std::make_shared<RecordingProxy>();
  if (c.relaunch) {
    mgr_.reset();
    mgr_ = OVDownloadMgr::makeForTesting();
    mgr_->chunkRetryPolicy.delays = {20ms};
  }
  mgr_->downloadDelegate.set(proxy_);
  ASSERT_TRUE(!c.relaunch || prepareForReal());
  startDownload();
  ASSERT_TRUE(waitForEnd());
  ASSERT_TRUE(waitForStatusReports(3));

  EXPECT_THAT(proxy_->failures(), IsEmpty());
  EXPECT_TRUE(sameFileContents(downloadsPath(kSetup), installerPath(kSetup)));
  // The window may split a chunk it fetches again.
  std::set<std::int64_t> chunks;
  for (const auto& range : chunkRanges()) chunks.insert(std::stoll(range.substr(6)) / kChunk);
  std::set<std::int64_t> every;
  for (std::int64_t i = 0; i < mgr_->dataChuckCount; ++i) every.insert(i);
  EXPECT_EQ(chunks, c.fetched.empty() ? every : c.fetched);
  // The link and the size asked for again; to the service the Retry is still the same download.
  EXPECT_EQ(posts("get-link.jsp").size(), 1u);
  if (!c.relaunch) {
    EXPECT_THAT(posts("update-info.jsp"), IsEmpty());
    EXPECT_EQ(statusReports().front(), (Report{"Downloading", ""}));
  }
}

// The state file's lines as written ("key = value" and CR LF), one of them changed.
void editState(Resume& t, const QString& line, const QString& replacement) {
  const QString path = t.tempFolder() + QStringLiteral("/Setup.pkg.state");
  QString text = QString::fromUtf8(readWholeFile(path));
  ASSERT_TRUE(text.contains(line + QStringLiteral("\r\n")));
  writeWholeFile(path, text.replace(line + QStringLiteral("\r\n"), replacement).toUtf8());
}

const std::vector<ResumeCase> kAttempts = {
    {"RetryInTheSameRun", false, nullptr, Chunks{2}},
    {"NextLaunch", true, nullptr, Chunks{2}},
    // The Retry's link carries a signature the first one lacked: only the query differs.
    {"LinkRefusedAtTheRetry", false, [](Resume& t) { t.setScenario([](auto& s) { s.signedLinks = true; }); },
     Chunks{2}},
    // Replaced while the dialog was open: the same size, other bytes, another tag.
    {"InstallerReplacedBeforeTheRetry", false,
     [](Resume& t) {
       const QString served = t.installerPath(kSetup);
       const auto size = QFileInfo(served).size();
       ASSERT_TRUE(QFile::remove(served));
       writeWholeFile(served, QByteArray::fromStdString(patternBytes(size, 7)));
     },
     kEveryChunk},
    // A new modification time is a new tag.
    {"ChangedEtag", true,
     [](Resume& t) {
       QFile file(t.installerPath(kSetup));
       ASSERT_TRUE(file.open(QIODevice::ReadWrite));
       file.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime);
     },
     kEveryChunk},
    {"ChangedSize", true, [](Resume& t) { t.addInstaller(kSetup, 4 * kChunk + 4322); }, kEveryChunk},
    // What a power cut leaves of a part whose bytes never reached the disk.
    {"ZeroLengthPart", true,
     [](Resume& t) { ASSERT_TRUE(QFile::resize(t.tempFolder() + QStringLiteral("/Setup.pkg.3"), 0)); },
     Chunks{2, 3}},
    // Parts that arrived after the last state was written were never flushed.
    {"PartsAfterTheLastState", true,
     [](Resume& t) { editState(t, QStringLiteral("flushed = 3,4"), QString()); }, Chunks{2, 3, 4}},
    {"StateWithoutAVersion", true, [](Resume& t) { editState(t, QStringLiteral("version = 2"), QString()); },
     kEveryChunk},
    {"StateOfAnotherChunkLength", true,
     [](Resume& t) {
       editState(t, QStringLiteral("chunk = 5242880"), QStringLiteral("chunk = 1048576\r\n"));
     },
     kEveryChunk},
    {"GarbledStateFile", true,
     [](Resume& t) { writeWholeFile(t.tempFolder() + QStringLiteral("/Setup.pkg.state"), "[Transfer\\n=="); },
     kEveryChunk},
    // Neither waited for nor read: a FIFO has no writer, and a state is never that long.
    {"StateFileIsAFifo", true,
     [](Resume& t) {
       const QByteArray state = QFile::encodeName(t.tempFolder() + QStringLiteral("/Setup.pkg.state"));
       ASSERT_EQ(::unlink(state.constData()), 0);
       ASSERT_EQ(::mkfifo(state.constData(), 0600), 0);
     },
     kEveryChunk},
    {"StateFileOver64KiB", true,
     [](Resume& t) {
       QFile state(t.tempFolder() + QStringLiteral("/Setup.pkg.state"));
       ASSERT_TRUE(state.open(QIODevice::Append));
       state.write(QByteArray(64 * 1024, '\n'));
     },
     kEveryChunk},
};

INSTANTIATE_TEST_SUITE_P(Attempts, Resume, ::testing::ValuesIn(kAttempts), rowName);

}  // namespace
}  // namespace ov::test
