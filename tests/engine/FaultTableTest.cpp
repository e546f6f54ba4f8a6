// What a user gets when the network, the server or the disk misbehaves: the
// exact installer, opened, or a dialog with nothing delivered, and never a
// file or folder of theirs lost. One row per fault, each a whole download
// (preparation included) against the reference service.

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <QDirIterator>
#include <csignal>

#include "platform/Utility.h"
#include "tests/support/Rows.h"
#include "tests/support/ServiceTest.h"

namespace ov::test {
namespace {

using test::PrintTo;

enum class Outcome { Delivered, DownloadFailed, SizeCheckFailed, ServerError, LowDiskSpace };

// What stands in the way besides the service's answers.
enum class Obstacle {
  None,
  DiskFullForAChunk,             // the volume holds the installer but no part beside it
  DiskFullForTheInstaller,       // the volume cannot hold the installer
  SlowService,                   // reports trickle at a byte a second
  LinkAtTheSaveLocation,         // to a file of the user's
  UnremovableAtTheSaveLocation,  // a folder with something in it that cannot be removed
  FreeSpaceOfOneAndAHalfGB,      // beyond the 1000 MiB kept free whatever the installer
  NoRetriesLeft,                 // and a connection replaced after 1 s of silence
  SmallDownloadsVolume,          // Downloads on a volume of its own, too small for the installer
};

struct Fault {
  const char* name;
  std::int64_t size;
  using Change = std::function<void(refservice::Scenario&, const std::string& baseUrl)>;
  Change scenario;
  Outcome outcome;
  Obstacle obstacle = Obstacle::None;
  const char* landsAs = "Setup.pkg";  // the name in Downloads
  std::size_t linkQueries = 1;        // however often, one download to the service
};

// What the window is told and the service hears.
std::pair<std::vector<ERROR_Code>, std::vector<Report>> expectedFor(Outcome outcome) {
  const Report launch{"Launch", ""}, downloading{"Downloading", ""};
  switch (outcome) {
    case Outcome::Delivered:
      return {{}, {launch, downloading, {"Complete", "Complete"}, {"Complete", "Install"}}};
    case Outcome::DownloadFailed:
      return {{ERROR_Code::E_DOWNLOAD_FAILED}, {launch, downloading}};
    case Outcome::SizeCheckFailed:
      return {{ERROR_Code::E_SIZE_CHECK_FAILED}, {launch, downloading, {"MD5CheckFailed", ""}}};
    case Outcome::ServerError:
      return {{ERROR_Code::E_SERVER_ERROR}, {}};
    case Outcome::LowDiskSpace:
      return {{ERROR_Code::E_LOW_DISK_SPACE}, {}};
  }
  return {};
}

class FaultTable : public ServiceTest, public ::testing::WithParamInterface<Fault> {
 protected:
  void TearDown() override {
    // The download ends before its volume goes, and the volume before the sandbox.
    endManager();
    httpSettings().sharedTotalTimeout = 60s;  // read by every request: restored once none is left
    if (limited_) ::setrlimit(RLIMIT_FSIZE, &previousLimit_);
    for (const QString& volume : mounted_) ::umount2(QFile::encodeName(volume).constData(), MNT_DETACH);
    if (!unremovable_.isEmpty()) makeRemovable(unremovable_);
    ServiceTest::TearDown();
  }

  // A tmpfs of `bytes` at the folder `path`.
  void mountVolume(const QString& path, std::int64_t bytes) {
    const std::string options = "size=" + std::to_string(bytes);
    ASSERT_EQ(::mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", 0, options.c_str()), 0)
        << std::strerror(errno);
    mounted_ << path;
  }

  // The application-support volume has only `bytes` free: a tmpfs of
  // `volume` bytes holding a file of the rest when we may mount one,
  // otherwise a file-size limit of `bytes` on this process.
  void limitDisk(std::int64_t volume, std::int64_t bytes) {
    if (::geteuid() == 0) {
      mountVolume(sandbox_->dataHome(), volume);
      QFile filler(sandbox_->dataHome() + QStringLiteral("/filler"));
      ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
      ASSERT_EQ(volume > bytes ? ::fallocate(filler.handle(), 0, 0, volume - bytes) : 0, 0);
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

  // A folder at `path` holding a file that cannot be removed: immutable for
  // root, in a folder without write permission for anyone else.
  void placeUnremovable(const QString& path) {
    const QString kept = sandbox_->writeFile(path.mid(sandbox_->home().size() + 1) + u"/kept"_qs, "x");
    unremovable_ = path;
    if (::geteuid() != 0) {
      ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0500), 0);
      return;
    }
    const int fd = ::open(QFile::encodeName(kept).constData(), O_RDONLY);
    int flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) flags |= FS_IMMUTABLE_FL;
    const bool immutable = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    if (!immutable) GTEST_SKIP() << "this file system keeps no immutable files";
  }
  void makeRemovable(const QString& path) {
    ::chmod(QFile::encodeName(path).constData(), 0700);
    const int fd = ::open(QFile::encodeName(path + u"/kept"_qs).constData(), O_RDONLY);
    int flags = 0;
    if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_IMMUTABLE_FL)) {
      flags &= ~FS_IMMUTABLE_FL;
      ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    if (fd >= 0) ::close(fd);
  }

  QStringList mounted_;
  QString unremovable_;
  bool limited_ = false;
  rlimit previousLimit_{};
};

TEST_P(FaultTable, TheUserGetsTheExactInstallerOrADialogAndNothingOfTheirsIsLost) {
  const Fault& fault = GetParam();
  addInstaller(kSetup, fault.size);
  // Only that row serves "Setup": the default link names the first installer, which must be Setup.pkg.
  if (fault.landsAs == std::string_view("Setup")) addInstaller(QStringLiteral("Setup"), fault.size);
  const QString landed = downloadsPath(QString::fromUtf8(fault.landsAs));
  if (fault.obstacle == Obstacle::SmallDownloadsVolume) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a volume for Downloads needs root";
    mountVolume(sandbox_->downloads(), fault.size / 2);
    writeWholeFile(landed, "an earlier copy");
  }
  // Things of the user's that no outcome may touch.
  sandbox_->writeFile(QStringLiteral("Downloads/notes.txt"), "mine");
  const QString usersFile = sandbox_->writeFile(QStringLiteral("Documents/mine.txt"), "mine");
  const QByteArray earlier = readWholeFile(landed);
  const QStringList before = downloadsEntries();
  // Large enough a volume for the installer, too full to hold it beside a part or at all.
  if (fault.obstacle == Obstacle::DiskFullForAChunk)
    limitDisk(fault.size + kChunk / 2, fault.size + kChunk / 2);
  if (fault.obstacle == Obstacle::DiskFullForTheInstaller) limitDisk(fault.size + kChunk, fault.size / 2);
  if (fault.obstacle == Obstacle::SlowService) httpSettings().sharedTotalTimeout = 2s;
  const QString supportFolder = QDir::cleanPath(getApplicationSupportDirectory(true).toLocalFile());
  if (fault.obstacle == Obstacle::LinkAtTheSaveLocation) {
    QDir().mkpath(supportFolder);
    ASSERT_TRUE(QFile::link(usersFile, supportFolder + u'/' + kSetup));
  }
  if (fault.obstacle == Obstacle::UnremovableAtTheSaveLocation)
    placeUnremovable(supportFolder + u'/' + kSetup);
  if (IsSkipped()) return;
  if (fault.obstacle == Obstacle::FreeSpaceOfOneAndAHalfGB) freeSpace_ = 1'500'000'000;
  if (fault.obstacle == Obstacle::NoRetriesLeft) {
    mgr_->downloadSessionConfiguration.stallTimeout = 1s;
    mgr_->chunkRetryPolicy.delays.clear();
  }
  setScenario([&](refservice::Scenario& s) { fault.scenario(s, service_->baseUrl()); });

  const bool ready = prepareForReal();
  if (ready) {
    startDownload();
    ASSERT_TRUE(waitForEnd());
  }
  settle();

  const bool delivered = fault.outcome == Outcome::Delivered;
  const auto [failures, reports] = expectedFor(fault.outcome);
  EXPECT_EQ(proxy_->failures(), failures);
  EXPECT_EQ(proxy_->completions(), delivered ? 1 : 0);
  if (fault.obstacle != Obstacle::SlowService) {
    ASSERT_TRUE(waitForStatusReports(reports.size()));
    settle();
    EXPECT_EQ(statusReports(), reports);
    EXPECT_EQ(posts("update-info.jsp").size(), reports.empty() ? 0u : 1u);
  }
  EXPECT_EQ(posts("get-link.jsp").size(), fault.linkQueries);
  EXPECT_TRUE((fault.outcome != Outcome::ServerError && fault.outcome != Outcome::LowDiskSpace) ||
              chunkRequests().empty());
  EXPECT_EQ(readWholeFile(usersFile), "mine");
  if (fault.obstacle == Obstacle::UnremovableAtTheSaveLocation) {
    EXPECT_TRUE(QFileInfo::exists(supportFolder + u'/' + kSetup + u"/kept"_qs));
  }
  if (fault.outcome == Outcome::SizeCheckFailed) {
    // Nothing of a file that is not the installer is kept.
    EXPECT_FALSE(QFileInfo::exists(saveLocation()));
    EXPECT_FALSE(QFileInfo::exists(tempFolder()));
  }
  // Whatever the fault: the installer's own bytes asked for, only a strong tag
  // as a validator, and no answer taken far beyond what was asked (a request
  // narrowed for a split may have had the rest of its range on its way).
  std::int64_t sent = 0;
  for (const auto& request : service_->requests()) {
    if (request.method == "POST") continue;
    EXPECT_EQ(request.header("Accept-Encoding"), "identity") << request.method;
    EXPECT_FALSE(request.header("If-Range").value_or("").starts_with("W/"));
    sent += request.bytesSent;
  }
  const auto splits =
      log_->outputLines().filter(QStringLiteral("OVDownloadMgr::processTasks(), split")).size();
  EXPECT_LT(sent, fault.size + (2 + splits) * kChunk);
  if (!delivered) {
    EXPECT_EQ(downloadsEntries(), before);
    EXPECT_EQ(readWholeFile(landed), earlier);
    EXPECT_THAT(toolkit_->openedUrls(), IsEmpty());
    // Giving up (the dialog's Cancel) leaves nothing behind either.
    if (mgr_->fileUrl) {
      mgr_->CancelDownload(false);
      EXPECT_FALSE(QFileInfo::exists(saveLocation()));
      EXPECT_FALSE(QFileInfo::exists(tempFolder()));
    }
  } else {
    EXPECT_TRUE(sameFileContents(landed, installerPath(kSetup)));
    EXPECT_THAT(toolkit_->openedUrls(), ElementsAre(QUrl::fromLocalFile(landed)));
    QStringList expected = before;
    expected << landed.mid(sandbox_->downloads().size() + 1);
    expected.sort();
    EXPECT_EQ(downloadsEntries(), expected);
  }
}

constexpr std::int64_t kSmall = 3 * kChunk + 1234;
using Faults = refservice::InstallerFaults;

Fault::Change on(std::function<void(Faults&)> change) {
  return [change](refservice::Scenario& s, const std::string&) { change(s.installer); };
}

// The link names the installer under another name.
Fault::Change savedAs(const std::string& name) {
  return [name](refservice::Scenario& s, const std::string& base) {
    s.link = refservice::LinkAnswer::RawText, s.linkText = base + "/installers/" + name + "\r\n";
  };
}

const Fault::Change kNoChange = [](refservice::Scenario&, const std::string&) {};

const std::vector<Fault> kFaults = {
    {"DropMidChunkOnce", kSmall,
     on([](Faults& f) { f.dropAfterBytes = 100'000, f.dropRepeat = refservice::Repeat::Once; }),
     Outcome::Delivered},
    {"NotFoundChunk", kSmall, on([](Faults& f) { f.failAtByte = kChunk; }), Outcome::DownloadFailed},
    {"ServerErrorChunk", kSmall, on([](Faults& f) { f.failAtByte = kChunk, f.failStatus = 500; }),
     Outcome::DownloadFailed},
    {"RangeIgnoredOneChunk", 70'000, on([](Faults& f) { f.ignoreRange = true; }), Outcome::Delivered},
    {"RangeIgnoredTwentyChunks", 20 * kChunk, on([](Faults& f) { f.ignoreRange = true; }),
     Outcome::DownloadFailed},
    {"ShortBody", kSmall, on([](Faults& f) { f.shortenBodyBy = 10; }), Outcome::DownloadFailed},
    // The probe is the first installer request; every GET sees another tag.
    {"EtagChangedAfterTheProbe", kSmall, on([](Faults& f) { f.etagChangesAfter = 1; }),
     Outcome::DownloadFailed},
    {"WeakEtag", kSmall, on([](Faults& f) { f.weakEtag = true; }), Outcome::Delivered},
    {"HeadOneByteLarger", kSmall, on([](Faults& f) { f.headSizeDelta = 1; }), Outcome::SizeCheckFailed},
    {"HeadOneChunkSmaller", kSmall, on([](Faults& f) { f.headSizeDelta = -kChunk; }),
     Outcome::SizeCheckFailed},
    {"RedirectToHttp", kSmall, on([](Faults& f) { f.redirect = refservice::Redirect::ToHttp; }),
     Outcome::ServerError},
    {"RedirectToAnotherHttpsHost", kSmall,
     on([](Faults& f) { f.redirect = refservice::Redirect::ToOtherHost; }), Outcome::Delivered},
    {"DigestRight", kSmall, on([](Faults& f) { f.digest = refservice::DigestHeader::Right; }),
     Outcome::Delivered},
    {"LegacyDigestRight", kSmall, on([](Faults& f) { f.digest = refservice::DigestHeader::LegacyRight; }),
     Outcome::Delivered},
    {"DigestWrong", kSmall, on([](Faults& f) { f.digest = refservice::DigestHeader::Wrong; }),
     Outcome::SizeCheckFailed},
    {"DiskFullForAChunk", kSmall, kNoChange, Outcome::DownloadFailed, Obstacle::DiskFullForAChunk},
    {"DiskFullForTheInstaller", kSmall, kNoChange, Outcome::DownloadFailed,
     Obstacle::DiskFullForTheInstaller},
    {"LinkWithoutExtension", kSmall, savedAs("Setup"), Outcome::Delivered, Obstacle::None, "Setup"},
    {"LinkWithAQuery", kSmall, savedAs("Setup.pkg?k=v"), Outcome::Delivered},
    {"HiddenSaveName", kSmall, savedAs(".Setup.pkg"), Outcome::ServerError},
    {"OverlongSaveName", kSmall, savedAs(std::string(252, 'S') + ".pkg"), Outcome::ServerError},
    {"BidiOverrideInSaveName", kSmall, savedAs("Setup%E2%80%AEgkp.exe"), Outcome::ServerError},
    {"ServiceAnswersAByteASecond", kSmall,
     [](refservice::Scenario& s, const std::string&) { s.slowReports = true; }, Outcome::Delivered,
     Obstacle::SlowService},
    {"LinkAtTheSaveLocation", kSmall, kNoChange, Outcome::Delivered, Obstacle::LinkAtTheSaveLocation},
    {"UnremovableAtTheSaveLocation", kSmall, kNoChange, Outcome::Delivered,
     Obstacle::UnremovableAtTheSaveLocation},
    // A cache that ignores If-Range answers with a range of another version of the same size.
    {"RangeOfAnotherEtag", kSmall, on([](Faults& f) { f.otherVersionOnRanges = true; }),
     Outcome::DownloadFailed},
    {"RangeOfAnotherLastModified", kSmall,
     on([](Faults& f) { f.sendEtag = false, f.otherVersionOnRanges = true; }), Outcome::DownloadFailed},
    {"InstallerLargerThanTheFreeSpace", kSmall, on([](Faults& f) { f.headContentLength = "2000000000"; }),
     Outcome::LowDiskSpace, Obstacle::FreeSpaceOfOneAndAHalfGB},
    // Replaced after the (scaled) 30 s; no retry is used up, none being left.
    {"SilentAfterTheHeaders", kSmall,
     on([](Faults& f) { f.stallAfterBytes = 0, f.stallRepeat = refservice::Repeat::Once; }),
     Outcome::Delivered, Obstacle::NoRetriesLeft},
    // A key rotation after the probe and two chunks: the other chunks are
    // refused (403) and fetched again with the fresh link, without a dialog.
    {"LinkExpiredMidDownload", kSmall,
     [](refservice::Scenario& s, const std::string&) { s.signedLinks = true, s.linksExpireAfter = 3; },
     Outcome::Delivered, Obstacle::None, "Setup.pkg", 2},
    // Refused whatever the link: one fresh link is asked for, never a second.
    {"ChunkRefusedEvenWithAFreshLink", kSmall,
     on([](Faults& f) { f.failAtByte = kChunk, f.failStatus = 403; }), Outcome::DownloadFailed,
     Obstacle::None, "Setup.pkg", 2},
    // The copy into Downloads fails on the way: the earlier file stays, whole.
    {"DownloadsVolumeFull", kSmall, kNoChange, Outcome::SizeCheckFailed, Obstacle::SmallDownloadsVolume},
};

INSTANTIATE_TEST_SUITE_P(Faults, FaultTable, ::testing::ValuesIn(kFaults), rowName);

}  // namespace
}  // namespace ov::test
