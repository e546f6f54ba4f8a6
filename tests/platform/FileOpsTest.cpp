#include "platform/FileOps.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include "tests/support/Files.h"

namespace ov::test {
namespace {

using test::PrintTo;

struct MoveCase {
  const char* name;
  bool acrossVolumes;  // the target's folder is a volume of its own
  bool accepted;       // what the check answers
};

class MoveFileTest : public ::testing::TestWithParam<MoveCase> {
 protected:
  void TearDown() override {
    if (mounted_) ::umount2(QFile::encodeName(sandbox_.path(u"target"_qs)).constData(), MNT_DETACH);
  }
  Sandbox sandbox_;
  bool mounted_ = false;
};

// An earlier file at the target is replaced by a checked file or not at all.
TEST_P(MoveFileTest, ReplacesTheTargetOnlyWithAFileTheCheckAccepted) {
  const MoveCase& c = GetParam();
  const QString target = sandbox_.path(u"target"_qs);
  QDir().mkpath(target);
  if (c.acrossVolumes) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a volume needs root";
    ASSERT_EQ(::mount("tmpfs", QFile::encodeName(target).constData(), "tmpfs", 0, "size=1m"), 0);
    mounted_ = true;
  }
  const QString from = sandbox_.writeFile(u"Setup.pkg"_qs, "the new installer");
  const QString to = sandbox_.writeFile(u"target/Setup.pkg"_qs, "an earlier copy");
  QStringList checked;
  QString error;
  const bool moved = moveFile(
      from, to,
      [&](const QString& file) {
        checked << file;
        return readWholeFile(file) == "the new installer" && c.accepted;
      },
      error);

  EXPECT_EQ(moved, c.accepted) << error.toStdString();
  EXPECT_EQ(readWholeFile(to), c.accepted ? "the new installer" : "an earlier copy");
  EXPECT_EQ(QFileInfo::exists(from), !c.accepted);
  ASSERT_EQ(checked.size(), 1);
  // Across volumes the copy is what is checked, before it takes the target's place.
  EXPECT_EQ(QFileInfo(checked[0]).path(), c.acrossVolumes ? target : sandbox_.home());
  EXPECT_EQ(QDir(target).entryList(QDir::Files), QStringList{u"Setup.pkg"_qs});
}

INSTANTIATE_TEST_SUITE_P(Table, MoveFileTest,
                         ::testing::Values(MoveCase{"SameVolume", false, true},
                                           MoveCase{"SameVolumeRefused", false, false},
                                           MoveCase{"AcrossVolumes", true, true},
                                           MoveCase{"AcrossVolumesRefused", true, false}),
                         rowName);

}  // namespace
}  // namespace ov::test
