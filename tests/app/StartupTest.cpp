#include <QAccessible>

#include "app/StringFormat.h"
#include "tests/app/AppFixture.h"

namespace apptest {
namespace {

using ov::formatString;

class Startup : public AppTest {
 protected:
  // Keeps preparation from reaching the service: the no-connection dialog
  // comes at once and its answer (none) leaves the window preparing.
  void prepareOffline() {
    Connectivity::setReachabilityForTesting([] { return false; });
    toolkit_->setAlertScript([](const ov::Alert&) { return -1; });
  }
};

TEST_F(Startup, ReadsMakeInfoAndPutsTheWindowIntoItsPreparingState) {
  prepareOffline();
  load();
  EXPECT_EQ(vc().sr, u"SR-42"_qs);
  EXPECT_EQ(vc().product, u"SampleStudio"_qs);
  EXPECT_EQ(vc().displayProductName, u"Sample Studio"_qs);
  EXPECT_EQ(vc().version, u"2.1"_qs);
  EXPECT_EQ(vc().versionType, u"Retail"_qs);
  EXPECT_TRUE(systemHas(u"[OVDownloader]load MakeInfo.ini done."_qs));
  EXPECT_TRUE(
      systemHas(u"[OVDownloader]MakeInfo.ini content : SR = SR-42, Product = SampleStudio, "
                "DisplayProductName = Sample Studio, Version = 2.1, VersionType = Retail"_qs));
  EXPECT_TRUE(outputHas(u"MacOS is 10.14 or above"_qs));

  EXPECT_EQ(vc().titleLabel->text(), u"Orvalen Sample Studio Downloader"_qs);
  EXPECT_EQ(vc().productLabel->text(), u"Sample Studio 2.1"_qs);
  const WindowState preparing{
      false, false, false, true, false, u"Pause"_qs, true, IIDS_PREPARE_STATE, sizeText(0, 0), 0};
  EXPECT_EQ(windowState(), preparing);

  // The preparation reaches the manager, which finds no network.
  ASSERT_TRUE(waitForAlerts(1));
  EXPECT_EQ(toolkit_->alerts()[0].message, IDS_INTERNET_CONNECTION.text());
  EXPECT_EQ(windowState(), preparing);
  EXPECT_EQ(mgr_->product, u"SampleStudio"_qs);
  EXPECT_EQ(mgr_->sr, u"SR-42"_qs);
  EXPECT_EQ(mgr_->version, u"2.1"_qs);
  EXPECT_EQ(mgr_->versionType, u"Retail"_qs);
}

struct MakeInfoCase {
  const char* name;
  QByteArray text;
  QString sr, product, display, version, versionType;
};
void PrintTo(const MakeInfoCase& c, std::ostream* out) {
  *out << c.name;
}

class MakeInfo : public Startup, public ::testing::WithParamInterface<MakeInfoCase> {};

TEST_P(MakeInfo, FieldsAreTheValuesAsTheReaderGivesThem) {
  prepareOffline();
  writeMakeInfo(GetParam().text);
  load();
  ASSERT_TRUE(vc().configMakeInfo.has_value());
  EXPECT_EQ(vc().sr, GetParam().sr);
  EXPECT_EQ(vc().product, GetParam().product);
  EXPECT_EQ(vc().displayProductName, GetParam().display);
  EXPECT_EQ(vc().version, GetParam().version);
  EXPECT_EQ(vc().versionType, GetParam().versionType);
  EXPECT_EQ(vc().productLabel->text(), GetParam().display + u' ' + GetParam().version);
  EXPECT_EQ(vc().titleLabel->text(), u"Orvalen "_qs + GetParam().display + u" Downloader"_qs);
  EXPECT_EQ(toolkit_->terminateCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Files, MakeInfo,
    ::testing::Values(
        MakeInfoCase{
            "OneLineWithSlashes",
            "[Ureg_Info]/SR_No=SR-42/Prod_Name=SampleStudio/DisplayProd_Name=Sample Studio/Prod_Ver=2.1/"
            "RegVType=Retail",
            u"SR-42"_qs, u"SampleStudio"_qs, u"Sample Studio"_qs, u"2.1"_qs, u"Retail"_qs},
        MakeInfoCase{"CrLfAndDoubledSlashes",
                     "//[Ureg_Info]\r\nSR_No=7//Prod_Name=P\r\nDisplayProd_Name=D/Prod_Ver=1/RegVType=T/",
                     u"7"_qs, u"P"_qs, u"D"_qs, u"1"_qs, u"T"_qs},
        MakeInfoCase{"ValueWithSlashIsCut",
                     "[Ureg_Info]\nSR_No=A1/B2=x\nProd_Name=P\nDisplayProd_Name=D\nProd_Ver=1\nRegVType=T\n",
                     u"A1"_qs, u"P"_qs, u"D"_qs, u"1"_qs, u"T"_qs},
        MakeInfoCase{"MissingKeysAreEmpty", "[Ureg_Info]\nProd_Name=P\n", QString(), u"P"_qs, QString(),
                     QString(), QString()},
        MakeInfoCase{"MissingSectionIsEmpty", "[Other]\nProd_Name=P\n", QString(), QString(), QString(),
                     QString(), QString()},
        MakeInfoCase{"UnicodeAndMarkupStayText",
                     "[Ureg_Info]\nSR_No=100%\nProd_Name=P\nDisplayProd_Name=<b>Größe<b> %d %@\nProd_Ver=1\n"
                     "RegVType=T\n",
                     u"100%"_qs, u"P"_qs, u"<b>Größe<b> %d %@"_qs, u"1"_qs, u"T"_qs}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Startup, AnEmptyDisplayNameLeavesTwoSpacesInTheTitle) {
  prepareOffline();
  writeMakeInfo("[Ureg_Info]\nProd_Name=P\nDisplayProd_Name=\nProd_Ver=3\n");
  load();
  EXPECT_EQ(vc().titleLabel->text(), u"Orvalen  Downloader"_qs);
  EXPECT_EQ(vc().productLabel->text(), u" 3"_qs);
}

TEST_F(Startup, ProductTextsAreWrittenLiterallyToLabelsAndTheLog) {
  prepareOffline();
  writeMakeInfo(
      "[Ureg_Info]\nSR_No=%s%n\nProd_Name=P\nDisplayProd_Name=<i>100%<i>\nProd_Ver=1\nRegVType=T\n");
  load();
  EXPECT_TRUE(
      systemHas(u"[OVDownloader]MakeInfo.ini content : SR = %s%n, Product = P, DisplayProductName = "
                "<i>100%<i>, Version = 1, VersionType = T"_qs));
  EXPECT_EQ(vc().titleLabel->textFormat(), Qt::PlainText);
  EXPECT_EQ(vc().productLabel->textFormat(), Qt::PlainText);
  EXPECT_EQ(vc().titleLabel->text(), u"Orvalen <i>100%<i> Downloader"_qs);
}

struct BrokenFileCase {
  const char* name;
  std::optional<QByteArray> bytes;  // nothing: no file at all
};
void PrintTo(const BrokenFileCase& c, std::ostream* out) {
  *out << c.name;
}

class BrokenMakeInfo : public Startup, public ::testing::WithParamInterface<BrokenFileCase> {};

TEST_P(BrokenMakeInfo, ShowsTheServerErrorAndQuitsWithoutPreparing) {
  if (GetParam().bytes)
    writeMakeInfo(*GetParam().bytes);
  else
    QFile::remove(makeInfoPath());
  std::atomic<int> reachabilityAsked{0};
  Connectivity::setReachabilityForTesting([&] {
    ++reachabilityAsked;
    return true;
  });
  load();
  EXPECT_TRUE(systemHas(u"[OVDownloader]failed to load MakeInfo.ini"_qs));
  ASSERT_EQ(toolkit_->alerts().size(), 1u);
  const ov::Alert alert = toolkit_->alerts()[0];
  // No product is known; the bundle has no name either in this sandbox.
  EXPECT_EQ(alert.message, formatString(IDS_SERVER_ERROR, {QString()}));
  EXPECT_EQ(alert.buttons, std::vector<QString>{IDS_BTNCAPTION_OK});
  EXPECT_EQ(alert.style, ov::AlertStyle::Warning);
  EXPECT_EQ(toolkit_->setTerminatingCount(), 1);
  EXPECT_EQ(toolkit_->terminateCount(), 1);
  settle();
  EXPECT_EQ(reachabilityAsked.load(), 0);
  EXPECT_FALSE(vc().configMakeInfo.has_value());
}

INSTANTIATE_TEST_SUITE_P(Files, BrokenMakeInfo,
                         ::testing::Values(BrokenFileCase{"Missing", std::nullopt},
                                           BrokenFileCase{"NotText",
                                                          QByteArray("[Ureg_Info]\n\xff\xfe\xfd", 14)},
                                           BrokenFileCase{"NotIni", QByteArray("Prod_Name=P\n")}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Startup, TheServerErrorNamesTheBundleWhenMakeInfoIsMissing) {
  writeFile(bundle_ + u"/Contents/Info.plist"_qs,
            "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleName</key><string>Sample "
            "Bundle</string></dict></plist>");
  ov::Bundle::setMainBundlePathForTesting(bundle_);
  QFile::remove(makeInfoPath());
  load();
  ASSERT_EQ(toolkit_->alerts().size(), 1u);
  EXPECT_TRUE(
      toolkit_->alerts()[0].message.startsWith(u"The Sample Bundle download is currently unavailable."_qs));
}

struct SystemCase {
  const char* name;
  std::optional<ov::SystemVersion> version;
  QString product;
  bool refused;
};
void PrintTo(const SystemCase& c, std::ostream* out) {
  *out << c.name;
}

class SystemCheck : public Startup, public ::testing::WithParamInterface<SystemCase> {};

TEST_P(SystemCheck, RefusesOnlyTheModernOnlyProductOnOldSystems) {
  prepareOffline();
  ov::setMacOSVersionForTesting([v = GetParam().version] { return v; });
  writeMakeInfo("[Ureg_Info]\nSR_No=1\nProd_Name=" + GetParam().product.toUtf8() +
                "\nDisplayProd_Name=Cutter Pro\nProd_Ver=9\nRegVType=T\n");
  load();
  const bool old = GetParam().version && *GetParam().version < ov::kMinimumModernSystem;
  EXPECT_TRUE(outputHas(old ? u"MacOS is 10.13"_qs : u"MacOS is 10.14 or above"_qs));
  if (GetParam().refused) {
    ASSERT_EQ(toolkit_->alerts().size(), 1u);
    EXPECT_EQ(
        toolkit_->alerts()[0].message,
        u"Cutter Pro requires macOS 10.14 or above to install. Please update your macOS before proceeding."_qs);
    EXPECT_EQ(toolkit_->alerts()[0].buttons, std::vector<QString>{IDS_BTNCAPTION_OK});
    EXPECT_EQ(toolkit_->terminateCount(), 1);
    EXPECT_EQ(vc().stateLabel->text(), QString());
  } else {
    EXPECT_EQ(vc().stateLabel->text(), IIDS_PREPARE_STATE.text());
    EXPECT_EQ(toolkit_->terminateCount(), 0);
    ASSERT_TRUE(waitForAlerts(1));  // the preparation ran: the no-connection dialog
    EXPECT_EQ(toolkit_->alerts()[0].message, IDS_INTERNET_CONNECTION.text());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Systems, SystemCheck,
    ::testing::Values(SystemCase{"OldWithProduct", ov::SystemVersion{10, 13, 6}, u"BrindleCutter"_qs, true},
                      SystemCase{"OldWithProductInside", ov::SystemVersion{10, 13, 0},
                                 u"XBrindleCutterPro"_qs, true},
                      SystemCase{"OldOtherCase", ov::SystemVersion{10, 13, 6}, u"brindlecutter"_qs, false},
                      SystemCase{"OldOtherProduct", ov::SystemVersion{10, 12, 0}, u"SampleStudio"_qs, false},
                      SystemCase{"Mojave", ov::SystemVersion{10, 14, 0}, u"BrindleCutter"_qs, false},
                      SystemCase{"BigSur", ov::SystemVersion{11, 0, 0}, u"BrindleCutter"_qs, false},
                      SystemCase{"NotMacOS", std::nullopt, u"BrindleCutter"_qs, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct SourceCase {
  const char* name;
  QString source;
  QString expected;
};
void PrintTo(const SourceCase& c, std::ostream* out) {
  *out << c.name;
}

class SourceSession : public ::testing::TestWithParam<SourceCase> {};

TEST_P(SourceSession, EverySlashActsAsALineBreak) {
  EXPECT_EQ(ViewController::hanldeSourceSession(GetParam().source), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Texts, SourceSession,
                         ::testing::Values(SourceCase{"Empty", QString(), QString()},
                                           SourceCase{"SlashesOnly", u"///"_qs, QString()},
                                           SourceCase{"NoSlash", u"[A]\nk=v"_qs, u"[A]\nk=v\n"_qs},
                                           SourceCase{"Pieces", u"[A]/k=v/x=y"_qs, u"[A]\nk=v\nx=y\n"_qs},
                                           SourceCase{"EmptyPiecesDropped", u"/[A]//k=v/"_qs,
                                                      u"[A]\nk=v\n"_qs},
                                           SourceCase{"LineBreaksKept", u"a\n/\nb"_qs, u"a\n\n\nb\n"_qs}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace apptest
