#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>

#include "platform/Bundle.h"
#include "tests/support/Sandbox.h"

namespace ov {
namespace {

const QByteArray kInfoPlist = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <key>CFBundleExecutable</key>
  <string>OVDownloader</string>
  <key>CFBundleIdentifier</key>
  <string>com.orvalen.OVDownloader.Brindle</string>
  <key>CFBundleShortVersionString</key>
  <string>2.1</string>
  <key>CFBundleVersion</key>
  <string>305</string>
  <key>CFBundleName</key>
  <string>Ørvalen &amp; Söhne</string>
  <key>LSMinimumSystemVersion</key>
  <integer>10</integer>
  <key>NSHighResolutionCapable</key>
  <true/>
  <key>CFBundleDocumentTypes</key>
  <array><dict><key>CFBundleVersion</key><string>999</string></dict></array>
  <key>Nested</key>
  <dict><key>CFBundleShortVersionString</key><string>9.9</string></dict>
  <key>Empty</key>
  <string/>
</dict>
</plist>
)";

class BundleTest : public ::testing::Test {
 protected:
  void TearDown() override { Bundle::setMainBundlePathForTesting(QString()); }

  QString makeBundle(const QByteArray* plist) {
    const QString bundle = sandbox.path(QStringLiteral("Brindle Installer.app"));
    QDir().mkpath(bundle + QStringLiteral("/Contents/MacOS"));
    if (plist != nullptr)
      sandbox.writeFile(QStringLiteral("Brindle Installer.app/Contents/Info.plist"), *plist);
    Bundle::setMainBundlePathForTesting(bundle);
    return bundle;
  }

  test::Sandbox sandbox;
};

TEST_F(BundleTest, ReadsTopLevelStringsOfInfoPlist) {
  const QString bundle = makeBundle(&kInfoPlist);
  const Bundle& main = Bundle::main();
  EXPECT_EQ(main.bundlePath(), bundle);
  EXPECT_EQ(main.resourcePath(), bundle + QStringLiteral("/Contents/Resources"));
  EXPECT_EQ(main.identifier(), QStringLiteral("com.orvalen.OVDownloader.Brindle"));
  EXPECT_EQ(main.infoString(QStringLiteral("CFBundleShortVersionString")), QStringLiteral("2.1"));
  EXPECT_EQ(main.infoString(QStringLiteral("CFBundleVersion")), QStringLiteral("305"));
  EXPECT_EQ(main.infoString(QStringLiteral("CFBundleName")), QStringLiteral("Ørvalen & Söhne"));
  EXPECT_EQ(main.infoString(QStringLiteral("Empty")), QString());
}

TEST_F(BundleTest, ValuesThatAreNotStringsOrAreMissingAreAbsent) {
  makeBundle(&kInfoPlist);
  for (const char* key :
       {"LSMinimumSystemVersion", "NSHighResolutionCapable", "CFBundleDocumentTypes", "Nested", "NoSuchKey"})
    EXPECT_EQ(Bundle::main().infoString(QString::fromLatin1(key)), std::nullopt) << key;
}

struct BrokenCase {
  const char* name;
  std::optional<QByteArray> plist;
};

class BrokenBundleTest : public BundleTest, public ::testing::WithParamInterface<BrokenCase> {};

TEST_P(BrokenBundleTest, GivesNoValues) {
  makeBundle(GetParam().plist ? &*GetParam().plist : nullptr);
  EXPECT_EQ(Bundle::main().identifier(), std::nullopt);
  EXPECT_EQ(Bundle::main().infoString(QStringLiteral("CFBundleVersion")), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Plists, BrokenBundleTest,
    ::testing::Values(
        BrokenCase{"Missing", std::nullopt},
        BrokenCase{"Truncated", QByteArray("<plist><dict><key>CFBundleIdentifier</key><string>a")},
        BrokenCase{"Binary", QByteArray("bplist00\xd1\x01\x02_\x10\x12"
                                        "CFBundleIdentifier")},
        BrokenCase{"ArrayAtTop", QByteArray("<plist><array><string>x</string></array></plist>")},
        BrokenCase{"Empty", QByteArray()}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BundleTest, PointingElsewhereRereadsTheInformation) {
  makeBundle(&kInfoPlist);
  ASSERT_TRUE(Bundle::main().identifier().has_value());
  const QByteArray other =
      "<plist><dict><key>CFBundleIdentifier</key><string>com.example.Other</string></dict></plist>";
  sandbox.writeFile(QStringLiteral("Other.app/Contents/Info.plist"), other);
  Bundle::setMainBundlePathForTesting(sandbox.path(QStringLiteral("Other.app")));
  EXPECT_EQ(Bundle::main().identifier(), QStringLiteral("com.example.Other"));
}

// The test executable does not sit in <bundle>/Contents/MacOS, so it is its
// own bundle folder and has no Info.plist.
TEST_F(BundleTest, AnExecutableOutsideABundleIsItsOwnFolderWithoutValues) {
  Bundle::setMainBundlePathForTesting(QString());
  EXPECT_EQ(Bundle::main().bundlePath(), QDir::cleanPath(QCoreApplication::applicationDirPath()));
  EXPECT_EQ(Bundle::main().identifier(), std::nullopt);
}

}  // namespace
}  // namespace ov
