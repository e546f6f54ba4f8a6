#include "tests/app/AppFixture.h"

namespace ov::test {
namespace {

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

struct MakeInfoCase {
  const char* name;
  QByteArray text;
  QString sr, product, display, version, versionType;
  std::optional<SystemVersion> system = std::nullopt;  // a macOS version
  bool refused = false;                                // as too old for the product
};

const char* const kSample =
    "[Ureg_Info]\nSR_No=SR-42\nProd_Name=SampleStudio\nDisplayProd_Name=Sample "
    "Studio\nProd_Ver=2.1\nRegVType=Retail\n";
const char* const kCutter =
    "[Ureg_Info]\nSR_No=1\nProd_Name=BrindleCutter\nDisplayProd_Name=Cutter Pro\nProd_Ver=9\nRegVType=T\n";

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
  EXPECT_EQ(vc().productLabel->text(), c.display + u' ' + c.version);
  EXPECT_EQ(vc().displayProductName.value_or(QString()), c.display);
  ASSERT_TRUE(waitFor([&] { return !toolkit_->alerts().empty(); }));
  EXPECT_EQ(alertMessages(), std::vector<QString>{IDS_INTERNET_CONNECTION});
  EXPECT_EQ(toolkit_->terminateCount(), 0);
  EXPECT_EQ(mgr_->sr, c.sr);
  EXPECT_EQ(mgr_->product, c.product);
  EXPECT_EQ(mgr_->version, c.version);
  EXPECT_EQ(mgr_->versionType, c.versionType);
}

INSTANTIATE_TEST_SUITE_P(
    Files, MakeInfo,
    ::testing::Values(
        MakeInfoCase{"Lines", kSample, u"SR-42"_qs, u"SampleStudio"_qs, u"Sample Studio"_qs, u"2.1"_qs,
                     u"Retail"_qs},
        MakeInfoCase{"OneLineWithSlashes",
                     "//[Ureg_Info]/SR_No=7//Prod_Name=P\r\nDisplayProd_Name=D/Prod_Ver=1/RegVType=T/",
                     u"7"_qs, u"P"_qs, u"D"_qs, u"1"_qs, u"T"_qs},
        MakeInfoCase{"ValueWithSlashIsCut",
                     "[Ureg_Info]\nSR_No=A1/B2=x\nProd_Name=P\nDisplayProd_Name=D\nProd_Ver=1\nRegVType=T\n",
                     u"A1"_qs, u"P"_qs, u"D"_qs, u"1"_qs, u"T"_qs},
        MakeInfoCase{"MissingKeysAreEmpty", "[Ureg_Info]\nProd_Name=P\nDisplayProd_Name=\nProd_Ver=3\n",
                     QString(), u"P"_qs, QString(), u"3"_qs, QString()},
        MakeInfoCase{"MissingSectionIsEmpty", "[Other]\nProd_Name=P\n", QString(), QString(), QString(),
                     QString(), QString()},
        MakeInfoCase{"UnicodeAndMarkupStayText",
                     "[Ureg_Info]\nSR_No=%s%n\nProd_Name=P\nDisplayProd_Name=<b>Größe<b> %d %@\nProd_Ver=1\n"
                     "RegVType=T\n",
                     u"%s%n"_qs, u"P"_qs, u"<b>Größe<b> %d %@"_qs, u"1"_qs, u"T"_qs},
        MakeInfoCase{"OldSystemModernOnlyProduct", kCutter, u"1"_qs, u"BrindleCutter"_qs, u"Cutter Pro"_qs,
                     u"9"_qs, u"T"_qs, SystemVersion{10, 13, 6}, true},
        MakeInfoCase{"OldSystemOtherCase", QByteArray(kCutter).replace("Brindle", "brindle"), u"1"_qs,
                     u"brindleCutter"_qs, u"Cutter Pro"_qs, u"9"_qs, u"T"_qs, SystemVersion{10, 13, 6}},
        MakeInfoCase{"OldSystemOtherProduct", kSample, u"SR-42"_qs, u"SampleStudio"_qs, u"Sample Studio"_qs,
                     u"2.1"_qs, u"Retail"_qs, SystemVersion{10, 12, 0}},
        MakeInfoCase{"Mojave", kCutter, u"1"_qs, u"BrindleCutter"_qs, u"Cutter Pro"_qs, u"9"_qs, u"T"_qs,
                     SystemVersion{10, 14, 0}},
        MakeInfoCase{"NotMacOS", kCutter, u"1"_qs, u"BrindleCutter"_qs, u"Cutter Pro"_qs, u"9"_qs, u"T"_qs}),
    [](const auto& info) { return std::string(info.param.name); });

class BrokenMakeInfo : public Startup, public ::testing::WithParamInterface<std::optional<QByteArray>> {};

TEST_P(BrokenMakeInfo, ShowsTheServerErrorWithTheBundlesNameAndQuitsWithoutPreparing) {
  if (GetParam())
    writeMakeInfo(*GetParam());
  else
    QFile::remove(makeInfoPath());
  writeWholeFile(bundle_ + u"/Contents/Info.plist"_qs,
                 "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleName</key><string>Sample "
                 "Bundle</string></dict></plist>");
  std::atomic<int> reachabilityAsked{0};
  Connectivity::setReachabilityForTesting([&] {
    ++reachabilityAsked;
    return true;
  });
  load();
  ASSERT_EQ(toolkit_->alerts().size(), 1u);
  EXPECT_TRUE(
      toolkit_->alerts()[0].message.startsWith(u"The Sample Bundle download is currently unavailable."_qs));
  EXPECT_EQ(toolkit_->alerts()[0].buttons, std::vector<QString>{IDS_BTNCAPTION_OK});
  EXPECT_EQ(toolkit_->setTerminatingCount(), 1);
  EXPECT_EQ(toolkit_->terminateCount(), 1);
  settle();
  EXPECT_EQ(reachabilityAsked.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(Files, BrokenMakeInfo,
                         ::testing::Values(std::nullopt, QByteArray("[Ureg_Info]\n\xff\xfe\xfd", 14),
                                           QByteArray("Prod_Name=P\n")));

}  // namespace
}  // namespace ov::test
