// What a user gets when the network, the server or the disk misbehaves: the
// exact installer, opened, or a dialog with nothing delivered, and never a
// file or folder of theirs lost. One row per fault, each a whole download
// (preparation included) against the reference service.

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <QDirIterator>
#include <csignal>

#include "tests/engine/EngineFixture.h"

namespace enginetest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Status = std::pair<std::string, std::string>;

enum class Outcome { Delivered, DownloadFailed, SizeCheckFailed, ServerError };

// What stands in the way besides the service's answers.
enum class Obstacle {
  None,
  FolderNamedLikeInstaller,  // Downloads/Setup.pkg is a folder of the user's
  DiskFullForAChunk,         // the volume holds the installer but no part beside it
  DiskFullForTheInstaller,   // the volume cannot hold the installer
  SlowService,               // reports trickle at a byte a second
};

struct Fault {
  const char* name;
  std::int64_t size;
  std::function<void(refservice::Scenario&, const std::string& baseUrl)> scenario;
  Outcome outcome;
  Obstacle obstacle = Obstacle::None;
};

void PrintTo(const Fault& fault, std::ostream* out) {
  *out << fault.name;
}

class FaultTable : public EngineTest, public ::testing::WithParamInterface<Fault> {
 protected:
  void TearDown() override {
    // The download ends before its volume goes, and the volume before the sandbox.
    if (mgr_) {
      if (mgr_->fileUrl) mgr_->CancelDownload(false);
      settle(std::chrono::milliseconds(200));
      mgr_.reset();
    }
    if (limited_) ::setrlimit(RLIMIT_FSIZE, &previousLimit_);
    if (mounted_) ::umount2(QFile::encodeName(sandbox_->dataHome()).constData(), MNT_DETACH);
    EngineTest::TearDown();
  }

  // The application-support volume has only `bytes` free: a tmpfs of
  // `volume` bytes holding a file of the rest when we may mount one,
  // otherwise a file-size limit of `bytes` on this process.
  void limitDisk(std::int64_t volume, std::int64_t bytes) {
    if (::geteuid() == 0) {
      const std::string options = "size=" + std::to_string(volume);
      ASSERT_EQ(
          ::mount("tmpfs", QFile::encodeName(sandbox_->dataHome()).constData(), "tmpfs", 0, options.c_str()),
          0)
          << std::strerror(errno);
      mounted_ = true;
      QFile filler(sandbox_->dataHome() + QStringLiteral("/filler"));
      ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
      if (volume > bytes) {
        ASSERT_EQ(::fallocate(filler.handle(), 0, 0, volume - bytes), 0);
      }
      return;
    }
    std::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &previousLimit_);
    rlimit limit = previousLimit_;
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    limited_ = true;
  }

  QStringList downloadsEntries() const {
    QStringList entries;
    QDirIterator it(sandbox_->downloads(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) entries << it.next().mid(sandbox_->downloads().size() + 1);
    entries.sort();
    return entries;
  }

  bool mounted_ = false;
  bool limited_ = false;
  rlimit previousLimit_{};
};

TEST_P(FaultTable, TheUserGetsTheExactInstallerOrADialogAndNothingOfTheirsIsLost) {
  const Fault& fault = GetParam();
  addInstaller(QStringLiteral("Setup.pkg"), fault.size);
  const QString served = installerPath(QStringLiteral("Setup.pkg"));
  // Things of the user's that no outcome may touch.
  sandbox_->writeFile(QStringLiteral("Downloads/notes.txt"), "mine");
  if (fault.obstacle == Obstacle::FolderNamedLikeInstaller)
    sandbox_->writeFile(QStringLiteral("Downloads/Setup.pkg/inside.txt"), "also mine");
  const QStringList before = downloadsEntries();
  // Large enough a volume for the installer, too full to hold it beside a part or at all.
  if (fault.obstacle == Obstacle::DiskFullForAChunk)
    limitDisk(fault.size + kChunk / 2, fault.size + kChunk / 2);
  if (fault.obstacle == Obstacle::DiskFullForTheInstaller) limitDisk(fault.size + kChunk, fault.size / 2);
  if (fault.obstacle == Obstacle::SlowService)
    ov::httpSettings().sharedTotalTimeout = std::chrono::seconds(2);
  service_->updateScenario([&](refservice::Scenario& s) { fault.scenario(s, service_->baseUrl()); });

  const bool ready = prepareForReal();
  if (ready) {
    startDownload();
    ASSERT_TRUE(waitFor([&] { return toolkit_->terminateCount() > 0 || !proxy_->failures().empty(); },
                        std::chrono::seconds(60)));
  }
  settle();
  ov::httpSettings().sharedTotalTimeout = std::chrono::seconds(60);

  const QString landed =
      downloadsPath(fault.obstacle == Obstacle::FolderNamedLikeInstaller ? QStringLiteral("Setup (1).pkg")
                                                                         : QStringLiteral("Setup.pkg"));
  std::vector<Status> reports = statusReports();
  switch (fault.outcome) {
    case Outcome::Delivered:
      EXPECT_THAT(proxy_->failures(), IsEmpty());
      EXPECT_EQ(proxy_->completions(), 1);
      EXPECT_TRUE(sameFileContents(landed, served));
      EXPECT_THAT(toolkit_->openedUrls(), ElementsAre(QUrl::fromLocalFile(landed)));
      if (fault.obstacle != Obstacle::SlowService) {
        EXPECT_THAT(reports, ElementsAre(Status{"Launch", ""}, Status{"Downloading", ""},
                                         Status{"Complete", "Complete"}, Status{"Complete", "Install"}));
      }
      break;
    case Outcome::DownloadFailed:
    case Outcome::SizeCheckFailed: {
      const bool size = fault.outcome == Outcome::SizeCheckFailed;
      EXPECT_THAT(proxy_->failures(),
                  ElementsAre(size ? ERROR_Code::E_SIZE_CHECK_FAILED : ERROR_Code::E_DOWNLOAD_FAILED));
      ASSERT_TRUE(waitForStatusReports(size ? 3 : 2));
      settle();
      reports = statusReports();
      if (size) {
        EXPECT_THAT(reports, ElementsAre(Status{"Launch", ""}, Status{"Downloading", ""},
                                         Status{"MD5CheckFailed", ""}));
        // Nothing of a file that is not the installer is kept.
        EXPECT_FALSE(QFileInfo::exists(saveLocation()));
        EXPECT_FALSE(QFileInfo::exists(tempFolder()));
      } else {
        EXPECT_THAT(reports, ElementsAre(Status{"Launch", ""}, Status{"Downloading", ""}));
      }
      break;
    }
    case Outcome::ServerError:
      EXPECT_THAT(proxy_->failures(), ElementsAre(ERROR_Code::E_SERVER_ERROR));
      EXPECT_THAT(reports, IsEmpty());
      EXPECT_THAT(chunkRequests(), IsEmpty());
      break;
  }
  // Whatever the fault: the installer's own bytes asked for, only a strong tag
  // as a validator, and no answer taken far beyond what was asked.
  std::int64_t sent = 0;
  for (const auto& request : service_->requests()) {
    if (request.method == "POST") continue;
    EXPECT_EQ(request.header("Accept-Encoding"), "identity") << request.method;
    EXPECT_FALSE(request.header("If-Range").value_or("").starts_with("W/"));
    sent += request.bytesSent;
  }
  EXPECT_LT(sent, fault.size + 2 * kChunk);
  if (fault.outcome != Outcome::Delivered) {
    EXPECT_EQ(downloadsEntries(), before);
    EXPECT_THAT(toolkit_->openedUrls(), IsEmpty());
    // Giving up (the dialog's Cancel) leaves nothing behind either.
    if (mgr_->fileUrl) {
      mgr_->CancelDownload(false);
      EXPECT_FALSE(QFileInfo::exists(saveLocation()));
      EXPECT_FALSE(QFileInfo::exists(tempFolder()));
    }
  } else {
    QStringList expected = before;
    expected << landed.mid(sandbox_->downloads().size() + 1);
    expected.sort();
    EXPECT_EQ(downloadsEntries(), expected);
  }
}

using refservice::Scenario;
constexpr std::int64_t kSmall = 3 * kChunk + 1234;

INSTANTIATE_TEST_SUITE_P(Faults, FaultTable,
                         ::testing::Values(Fault{"DropMidChunkOnce", kSmall,
                                                 [](Scenario& s, auto&) {
                                                   s.installer.dropAfterBytes = 100'000;
                                                   s.installer.dropRepeat = refservice::Repeat::Once;
                                                 },
                                                 Outcome::Delivered},
                                           Fault{"NotFoundChunk", kSmall,
                                                 [](Scenario& s, auto&) { s.installer.failAtByte = kChunk; },
                                                 Outcome::DownloadFailed},
                                           Fault{"ServerErrorChunk", kSmall,
                                                 [](Scenario& s, auto&) {
                                                   s.installer.failAtByte = kChunk;
                                                   s.installer.failStatus = 500;
                                                 },
                                                 Outcome::DownloadFailed},
                                           Fault{"RangeIgnoredOneChunk", 70'000,
                                                 [](Scenario& s, auto&) { s.installer.ignoreRange = true; },
                                                 Outcome::Delivered},
                                           Fault{"RangeIgnoredTwentyChunks", 20 * kChunk,
                                                 [](Scenario& s, auto&) { s.installer.ignoreRange = true; },
                                                 Outcome::DownloadFailed},
                                           Fault{"ShortBody", kSmall,
                                                 [](Scenario& s, auto&) { s.installer.shortenBodyBy = 10; },
                                                 Outcome::DownloadFailed},
                                           // The probe is the first installer request; every GET sees another
                                           // tag.
                                           Fault{"EtagChangedAfterTheProbe", kSmall,
                                                 [](Scenario& s, auto&) { s.installer.etagChangesAfter = 1; },
                                                 Outcome::DownloadFailed},
                                           Fault{"WeakEtag", kSmall,
                                                 [](Scenario& s, auto&) { s.installer.weakEtag = true; },
                                                 Outcome::Delivered},
                                           Fault{"HeadOneByteLarger", kSmall,
                                                 [](Scenario& s, auto&) { s.installer.headSizeDelta = 1; },
                                                 Outcome::SizeCheckFailed},
                                           Fault{"HeadOneChunkSmaller", kSmall,
                                                 [](Scenario& s, auto&) {
                                                   s.installer.headSizeDelta = -kChunk;
                                                 },
                                                 Outcome::SizeCheckFailed},
                                           Fault{"RedirectToHttp", kSmall,
                                                 [](Scenario& s, auto&) {
                                                   s.installer.redirect = refservice::Redirect::ToHttp;
                                                 },
                                                 Outcome::ServerError},
                                           Fault{"RedirectToAnotherHttpsHost", kSmall,
                                                 [](Scenario& s, auto&) {
                                                   s.installer.redirect = refservice::Redirect::ToOtherHost;
                                                 },
                                                 Outcome::Delivered},
                                           Fault{"DigestRight", kSmall,
                                                 [](Scenario& s, auto&) {
                                                   s.installer.digest = refservice::DigestHeader::Right;
                                                 },
                                                 Outcome::Delivered},
                                           Fault{"LegacyDigestRight", kSmall,
                                                 [](Scenario& s, auto&) {
                                                   s.installer.digest = refservice::DigestHeader::LegacyRight;
                                                 },
                                                 Outcome::Delivered},
                                           Fault{"DigestWrong", kSmall,
                                                 [](Scenario& s, auto&) {
                                                   s.installer.digest = refservice::DigestHeader::Wrong;
                                                 },
                                                 Outcome::SizeCheckFailed},
                                           Fault{"DiskFullForAChunk", kSmall, [](Scenario&, auto&) {},
                                                 Outcome::DownloadFailed, Obstacle::DiskFullForAChunk},
                                           Fault{"DiskFullForTheInstaller", kSmall, [](Scenario&, auto&) {},
                                                 Outcome::DownloadFailed, Obstacle::DiskFullForTheInstaller},
                                           Fault{"FolderNamedLikeTheInstaller", kSmall,
                                                 [](Scenario&, auto&) {}, Outcome::Delivered,
                                                 Obstacle::FolderNamedLikeInstaller},
                                           Fault{"HiddenSaveName", kSmall,
                                                 [](Scenario& s, const std::string& base) {
                                                   s.link = refservice::LinkAnswer::RawText;
                                                   s.linkText = base + "/installers/.Setup.pkg\r\n";
                                                 },
                                                 Outcome::ServerError},
                                           Fault{"OverlongSaveName", kSmall,
                                                 [](Scenario& s, const std::string& base) {
                                                   s.link = refservice::LinkAnswer::RawText;
                                                   s.linkText = base + "/installers/" +
                                                                std::string(252, 'S') + ".pkg\r\n";
                                                 },
                                                 Outcome::ServerError},
                                           Fault{"BidiOverrideInSaveName", kSmall,
                                                 [](Scenario& s, const std::string& base) {
                                                   s.link = refservice::LinkAnswer::RawText;
                                                   s.linkText =
                                                       base + "/installers/Setup%E2%80%AEgkp.exe\r\n";
                                                 },
                                                 Outcome::ServerError},
                                           Fault{"ServiceAnswersAByteASecond", kSmall,
                                                 [](Scenario& s, auto&) { s.slowReports = true; },
                                                 Outcome::Delivered, Obstacle::SlowService}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace enginetest
