#include "tests/app/AppFixture.h"
#include "tests/support/Rows.h"

namespace ov::test {
namespace {

using test::PrintTo;

// Keeps preparation from reaching the service: the no-connection dialog
// comes at once and its answer (none) leaves the window preparing.
class Startup : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    Connectivity::setReachabilityForTesting([] { return false; });
    toolkit_->setAlertScript([](const Alert&) { return -1; });
  }
};

const char* const kCutter =
    "[Ureg_Info]\nSR_No=1\nProd_Name=BrindleCutter\nDisplayProd_Name=Cutter Pro\nProd_Ver=9\nRegVType=T\n";

struct MakeInfoCase {
  const char* name;
  QByteArray text = kCutter;
  QString display = u"Cutter Pro"_qs;
  QString handed = u"1|BrindleCutter|9|T"_qs;          // SR, product, version, version type
  std::optional<SystemVersion> system = std::nullopt;  // a macOS version
  bool refused = false;                                // as too old for the product
};

class MakeInfo : public Startup, public ::testing::WithParamInterface<MakeInfoCase> {};

// Every "/" in the file acts as a line break; values stay plain text. A
// product whose name holds "BrindleCutter" (in that case) needs macOS 10.14 or
// above, or a system that is not macOS.
TEST_P(MakeInfo, NamesTheProductInTheWindowAndHandsItToThePreparation) {
  const MakeInfoCase& c = GetParam();
  setMacOSVersionForTesting([v = c.system] { return v; });
  writeMakeInfo(c.text);
  load();
  const bool old = c.system && *c.system < kMinimumModernSystem;
  EXPECT_TRUE(log_->outputLines().contains(old ? u"MacOS is 10.13"_qs : u"MacOS is 10.14 or above"_qs));
  if (c.refused) {
    EXPECT_EQ(alertMessages(),
              std::vector<QString>{c.display + u" requires macOS 10.14 or above to install. "
                                               "Please update your macOS before proceeding."_qs});
    EXPECT_EQ(toolkit_->terminateCount(), 1);
    return;
  }
  EXPECT_EQ(vc().titleLabel->text(), u"Orvalen "_qs + c.display + u" Downloader"_qs);
  EXPECT_EQ(vc().productLabel->text(), c.display + u' ' + c.handed.split(u'|')[2]);
  ASSERT_TRUE(waitFor([&] { return !toolkit_->alerts().empty(); }));
  EXPECT_EQ(alertMessages(), std::vector<QString>{IDS_INTERNET_CONNECTION});
  EXPECT_EQ(toolkit_->terminateCount(), 0);
  EXPECT_EQ(QStringList({*mgr_->sr, *mgr_->product, *mgr_->version, *mgr_->versionType}).join(u'|'),
            c.handed);
}

INSTANTIATE_TEST_SUITE_P(
    Files, MakeInfo,
    ::testing::Values(
        MakeInfoCase{"OneLineWithSlashes",
                     "//[Ureg_Info]/SR_No=7//Prod_Name=P\r\nDisplayProd_Name=D/Prod_Ver=1/RegVType=T/",
                     u"D"_qs, u"7|P|1|T"_qs},
        MakeInfoCase{"ValueWithSlashIsCut",
                     "[Ureg_Info]\nSR_No=A1/B2=x\nProd_Name=P\nDisplayProd_Name=D\nProd_Ver=1\nRegVType=T\n",
                     u"D"_qs, u"A1|P|1|T"_qs},
        MakeInfoCase{"MissingKeysAreEmpty", "[Ureg_Info]\nProd_Name=P\nDisplayProd_Name=\nProd_Ver=3\n",
                     QString(), u"|P|3|"_qs},
        MakeInfoCase{"MissingSectionIsEmpty", "[Other]\nProd_Name=P\n", QString(), u"|||"_qs},
        MakeInfoCase{"UnicodeAndMarkupStayText",
                     "[Ureg_Info]\nSR_No=%s%n\nProd_Name=P\nDisplayProd_Name=<b>Größe<b> %d %@\nProd_Ver=1\n"
                     "RegVType=T\n",
                     u"<b>Größe<b> %d %@"_qs, u"%s%n|P|1|T"_qs},
        MakeInfoCase{
            .name = "OldSystemModernOnlyProduct", .system = SystemVersion{10, 13, 6}, .refused = true},
        MakeInfoCase{.name = "OldSystemOtherCase",
                     .text = QByteArray(kCutter).replace("Brindle", "brindle"),
                     .handed = u"1|brindleCutter|9|T"_qs,
                     .system = SystemVersion{10, 13, 6}},
        MakeInfoCase{.name = "Mojave", .system = SystemVersion{10, 14, 0}}, MakeInfoCase{"NotMacOS"}),
    rowName);

class BrokenMakeInfo : public Startup, public ::testing::WithParamInterface<std::optional<QByteArray>> {};

TEST_P(BrokenMakeInfo, ShowsTheServerErrorWithTheBundlesNameAndQuitsWithoutPreparing) {
  QFile::remove(makeInfoPath());
  if (GetParam()) writeMakeInfo(*GetParam());
  writeWholeFile(bundle_ + u"/Contents/Info.plist"_qs,
                 "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleName</key><string>Sample "
                 "Bundle</string></dict></plist>");
  load();
  // A preparation would end in the no-connection dialog.
  settle();
  ASSERT_EQ(alertMessages(), std::vector<QString>{formatString(IDS_SERVER_ERROR, {u"Sample Bundle"_qs})});
  EXPECT_EQ(toolkit_->alerts()[0].buttons, std::vector<QString>{IDS_BTNCAPTION_OK});
  EXPECT_EQ(toolkit_->setTerminatingCount(), 1);
  EXPECT_EQ(toolkit_->terminateCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(Files, BrokenMakeInfo,
                         ::testing::Values(std::nullopt, QByteArray("[Ureg_Info]\n\xff\xfe\xfd", 14),
                                           QByteArray("Prod_Name=P\n")));

}  // namespace
}  // namespace ov::test
