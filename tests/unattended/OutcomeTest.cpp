#include <QCryptographicHash>
#include <csignal>

#include "frontend/SingleInstance.h"
#include "platform/Bundle.h"
#include "platform/Utility.h"
#include "tests/support/ServiceTest.h"
#include "unattended/ProgressReport.h"
#include "unattended/UnattendedRun.h"

namespace ov::test {
namespace {

constexpr std::int64_t kSize = 2 * kChunk + 4099;
const QString kName = QStringLiteral("SampleSetup.pkg");

// What is done to the run beyond the service's scenario.
enum class Seam { None, Offline, FullDisk, SecondCopy, NoMakeInfo, Signal };

struct Row {
  const char* name;
  std::function<void(refservice::Scenario&)> fault = nullptr;
  ExitCode code = ExitCode::Delivered;
  // The last line on stderr; <downloads>, <deploy>, <support> and <bundle> stand for the sandbox's folders.
  const char* message = "";
  const char* landed = nullptr;  // the folder the installer is in (as in `message`), or none
  std::vector<Report> reports = {};
  Seam seam = Seam::None;
  bool open = true;
  bool deploy = false;  // --download-dir <deploy>
};
void PrintTo(const Row& row, std::ostream* out) {
  *out << row.name;
}

const Report kLaunch{"Launch", ""}, kDownloading{"Downloading", ""}, kCancel{"Cancel", ""};
const Report kComplete{"Complete", "Complete"}, kInstall{"Complete", "Install"}, kWrong{"MD5CheckFailed", ""};

class Outcomes : public ServiceTest, public ::testing::WithParamInterface<Row> {
 protected:
  void SetUp() override {
    ServiceTest::SetUp();
    addInstaller(kName, kSize);
    Bundle::setMainBundlePathForTesting(sandbox_->path(QStringLiteral("Sample.app")));
    sandbox_->writeFile(QStringLiteral("Sample.app/Contents/Resources/MakeInfo.ini"),
                        "[Ureg_Info]\nSR_No=SR-7\nProd_Name=SampleStudio\nDisplayProd_Name=Sample Studio\n"
                        "Prod_Ver=2.1\nRegVType=Retail\n");
  }
  void TearDown() override {
    run_.reset();
    drainMainQueue();
    Bundle::setMainBundlePathForTesting(QString());
    ServiceTest::TearDown();
  }

  QString expand(const char* text) const {
    return QString::fromUtf8(text)
        .replace(u"<downloads>"_qs, sandbox_->downloads())
        .replace(u"<deploy>"_qs, sandbox_->path(u"Deploy"_qs))
        .replace(u"<support>"_qs, QDir::cleanPath(getApplicationSupportDirectory(true).toLocalFile()))
        .replace(u"<bundle>"_qs, sandbox_->path(u"Sample.app"_qs));
  }

  std::unique_ptr<ProgressReport> report_;
  std::shared_ptr<UnattendedRun> run_;
  QByteArray err_;
};

// Each way a run ends: its exit code and one line saying so, what landed in
// the download folder (nothing half-made anywhere), and what the service was told.
TEST_P(Outcomes, EndWithTheirCodeMessageFilesAndReports) {
  const Row& row = GetParam();
  if (row.fault) setScenario(row.fault);
  reachable_ = row.seam != Seam::Offline;
  if (row.seam == Seam::FullDisk) freeSpace_ = 1000;
  if (row.seam == Seam::NoMakeInfo)
    QFile::remove(sandbox_->path(u"Sample.app/Contents/Resources/MakeInfo.ini"_qs));
  SingleInstance firstCopy;
  if (row.seam == Seam::SecondCopy) {
    ASSERT_EQ(firstCopy.acquire(), SingleInstance::Claim::Acquired);
  }
  if (row.seam == Seam::Signal) {
    setScenario([](auto& s) {
      s.installer.hold = true;
      s.installer.holdAfterBytes = 4096;
    });
  }

  report_ = std::make_unique<ProgressReport>(
      ProgressReport::Style::Lines, [](const QByteArray&) {},
      [this](const QByteArray& bytes) { err_ += bytes; });
  UnattendedRun::Settings settings{
      1, 0ms, {row.deploy ? sandbox_->path(u"Deploy"_qs) : QString(), row.open}, {}};
  run_ = UnattendedRun::create(*mgr_, settings, *report_);
  const auto ended = run_->start();
  if (!ended) {
    if (row.seam == Seam::Signal) {
      // The "Launch" report goes out in the background: a signal before it
      // has arrived would cancel it with the rest.
      ASSERT_TRUE(waitFor([&] { return heldRequests() > 0 && !statusReports().empty(); }));
      run_->onTerminationSignal(SIGTERM);
    }
    ASSERT_TRUE(waitFor([&] { return toolkit_->terminateCount() > 0; }, 60s)) << err_.toStdString();
  }

  EXPECT_EQ(ended.value_or(run_->exitCode()), row.code);
  EXPECT_EQ(QString::fromUtf8(err_).split(u'\n', Qt::SkipEmptyParts).last(), expand(row.message));
  for (const QString& folder : {sandbox_->downloads(), sandbox_->path(u"Deploy"_qs)}) {
    const QStringList files = QDir(folder).entryList(QDir::Files);
    EXPECT_EQ(files, folder == expand(row.landed) ? QStringList{kName} : QStringList{})
        << folder.toStdString();
  }
  if (row.landed != nullptr) {
    EXPECT_TRUE(readWholeFile(expand(row.landed) + u'/' + kName) == readWholeFile(installerPath(kName)));
  }
  if (mgr_->fileUrl) {
    EXPECT_FALSE(QDir(tempFolder()).exists());
  }
  EXPECT_EQ(statusReports(), row.reports);
  EXPECT_EQ(toolkit_->openedUrls().size(), std::ranges::count(row.reports, kInstall));
}

INSTANTIATE_TEST_SUITE_P(
    Table, Outcomes,
    ::testing::Values(
        Row{"Delivered",
            nullptr,
            ExitCode::Delivered,
            "OVDownloader: delivered <downloads>/SampleSetup.pkg",
            "<downloads>",
            {kLaunch, kDownloading, kComplete, kInstall}},
        Row{.name = "DeliveredWithoutOpening",
            .code = ExitCode::Delivered,
            .message = "OVDownloader: delivered <downloads>/SampleSetup.pkg",
            .landed = "<downloads>",
            .reports = {kLaunch, kDownloading, kComplete},
            .open = false},
        Row{.name = "DeliveredToAFolderOfItsOwn",
            .code = ExitCode::Delivered,
            .message = "OVDownloader: delivered <deploy>/SampleSetup.pkg",
            .landed = "<deploy>",
            .reports = {kLaunch, kDownloading, kComplete, kInstall},
            .deploy = true},
        Row{"TransferRetriedThenDelivered",
            [](auto& s) {
              s.installer.failAtByte = kChunk;
              s.installer.failRepeat = refservice::Repeat::Once;
            },
            ExitCode::Delivered,
            "OVDownloader: delivered <downloads>/SampleSetup.pkg",
            "<downloads>",
            {kLaunch, kDownloading, kDownloading, kComplete, kInstall}},
        Row{"TransferFailsAfterRetries",
            [](auto& s) { s.installer.failAtByte = kChunk; },
            ExitCode::DownloadFailed,
            "OVDownloader: the download failed, also after 1 retry",
            nullptr,
            {kLaunch, kDownloading, kDownloading, kCancel}},
        Row{"WrongDigestAfterRetries",
            [](auto& s) { s.installer.digest = refservice::DigestHeader::Wrong; },
            ExitCode::Integrity,
            "OVDownloader: the installer's size or digest did not match what the service announced, also "
            "after 1 retry",
            nullptr,
            {kLaunch, kDownloading, kWrong, kDownloading, kWrong}},
        Row{"ServerError",
            [](auto& s) { s.link = refservice::LinkAnswer::ServerError; },
            ExitCode::Service,
            "OVDownloader: the download service gave no installer for Sample Studio",
            nullptr,
            {}},
        Row{"UpdateRequired",
            [](auto& s) {
              s.link = refservice::LinkAnswer::NeedUpdate;
              s.updateLink = "https://www.orvalen.example/Téléchargement.dmg";
            },
            ExitCode::Service,
            "OVDownloader: the download service requires a newer downloader: "
            "https://www.orvalen.example/T%C3%A9l%C3%A9chargement.dmg",
            nullptr,
            {}},
        Row{"UpdateRequiredWithoutALink",
            [](auto& s) {
              s.link = refservice::LinkAnswer::NeedUpdate;
              s.updateLink = "ftp://www.orvalen.example/http/OVDownloader.dmg";
            },
            ExitCode::Service,
            "OVDownloader: the download service requires a newer downloader and named none",
            nullptr,
            {}},
        Row{.name = "NoNetworkAfterRetries",
            .code = ExitCode::NoNetwork,
            .message = "OVDownloader: no network connection, also after 1 retry",
            .seam = Seam::Offline},
        Row{.name = "DiskFull",
            .code = ExitCode::DiskSpace,
            .message = "OVDownloader: not enough free disk space for the download in <support>",
            .seam = Seam::FullDisk},
        Row{.name = "Signal",
            .code = ExitCode::Cancelled,
            .message = "OVDownloader: cancelled by SIGTERM",
            .reports = {kLaunch, kDownloading, kCancel},
            .seam = Seam::Signal},
        Row{.name = "SecondCopy",
            .code = ExitCode::AnotherInstance,
            .message = "OVDownloader: another OVDownloader is already downloading (it holds "
                       "<support>/.OVDownloader.lock)",
            .seam = Seam::SecondCopy},
        Row{.name = "NoMakeInfo",
            .code = ExitCode::BadMakeInfo,
            .message = "OVDownloader: cannot read the product from <bundle>/Contents/Resources/MakeInfo.ini",
            .seam = Seam::NoMakeInfo}),
    rowName);

}  // namespace
}  // namespace ov::test
