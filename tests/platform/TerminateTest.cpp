#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include "engine/OVDownloadMgr.h"
#include "platform/Utility.h"
#include "tests/support/Sandbox.h"
#include "tests/support/ScriptedToolkit.h"

namespace {

TEST(TerminateOVDownloader, MarksTerminatingRemovesTheChunkFolderThenAsksToQuit) {
  ov::test::Sandbox sandbox;
  ov::test::ScriptedToolkit scripted;
  const QString saveFolder = sandbox.dataHome() + QStringLiteral("/com.orvalen.OVDownloader");
  const QString tempFolder = saveFolder + QStringLiteral("/Setup_TempFiles");
  sandbox.writeFile(QStringLiteral(".local/share/com.orvalen.OVDownloader/Setup_TempFiles/Setup.pkg.0"),
                    "part");
  OVDownloadMgr& manager = OVDownloadMgr::shared();
  manager.fileUrl = QUrl::fromLocalFile(saveFolder + QStringLiteral("/Setup.pkg"));

  bool tempFolderGoneAtTerminate = false;
  scripted.setOnTerminate([&] { tempFolderGoneAtTerminate = !QFileInfo::exists(tempFolder); });
  terminateOVDownloader(&manager);
  manager.fileUrl.reset();

  EXPECT_EQ(scripted.calls(),
            (std::vector<QString>{QStringLiteral("setTerminating"), QStringLiteral("terminate")}));
  EXPECT_TRUE(tempFolderGoneAtTerminate);
  EXPECT_TRUE(QFileInfo(saveFolder).isDir());
}

}  // namespace
