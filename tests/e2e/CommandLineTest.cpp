#include "BuildConfig.h"
#include "tests/e2e/EndToEnd.h"

namespace ov::test {
namespace {

enum class Stream { Out, Err };

struct Row {
  const char* name;
  QStringList arguments;
  Stream stream;          // where the first line goes; the other stream stays empty
  const char* firstLine;  // <home>: the sandbox's home
  int exitCode;
  bool withoutWindowProgram = false;  // the window's executable removed from the bundle
};
void PrintTo(const Row& row, std::ostream* out) {
  *out << row.name;
}

const QString kUsageHint = QStringLiteral("Try 'OVDownloader --help' for more information.");

class CommandLineTable : public EndToEnd, public ::testing::WithParamInterface<Row> {
 protected:
  void SetUp() override { serve(1); }
};

// Each answer comes before anything of the download exists: without a display,
// with no MakeInfo.ini in the bundle, no request to the service, no folder of
// the program's and no lock made. A mistake is one line naming it and the hint.
TEST_P(CommandLineTable, AnswersWithoutADisplayTheProductOrTheService) {
  const Row& row = GetParam();
  QFile::remove(program->bundlePath() + QStringLiteral("/Contents/Resources/MakeInfo.ini"));
  if (row.withoutWindowProgram)
    QFile::remove(program->bundlePath() + QStringLiteral("/Contents/MacOS/OVDownloaderWindow"));

  program->start(row.arguments, false);
  ASSERT_TRUE(program->waitForExit(30s)) << program->output().toStdString();
  EXPECT_EQ(program->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program->exitCode(), row.exitCode);
  const QStringList out = QString::fromUtf8(program->standardOutput()).split(u'\n', Qt::SkipEmptyParts);
  const QStringList err = QString::fromUtf8(program->standardError()).split(u'\n', Qt::SkipEmptyParts);
  const QStringList& lines = row.stream == Stream::Out ? out : err;
  ASSERT_FALSE(lines.isEmpty()) << program->output().toStdString();
  EXPECT_EQ(lines.front(), QString::fromUtf8(row.firstLine).replace(u"<home>"_qs, sandbox_->home()));
  EXPECT_TRUE((row.stream == Stream::Out ? err : out).isEmpty()) << program->output().toStdString();
  if (row.exitCode == 2) {
    EXPECT_EQ(err.mid(1), QStringList{kUsageHint});
  }

  EXPECT_TRUE(service->requests().empty());
  EXPECT_FALSE(QFileInfo::exists(program->supportFolder()));
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandLineTable,
    ::testing::Values(
        Row{"Help", {"--help"}, Stream::Out, "Usage: OVDownloader [--unattended [options]]", 0},
        Row{"HelpShort", {"-h"}, Stream::Out, "Usage: OVDownloader [--unattended [options]]", 0},
        Row{"HelpBesideOtherOptions",
            {"--unattended", "--retries=x", "--help"},
            Stream::Out,
            "Usage: OVDownloader [--unattended [options]]",
            0},
        Row{"Version",
            {"--version"},
            Stream::Out,
            "OVDownloader " OV_VERSION " (build " OV_BUILD_NUMBER ")",
            0},
        Row{"UnknownOption", {"--frobnicate"}, Stream::Err, "OVDownloader: unknown option '--frobnicate'", 2},
        Row{"UnknownBesideHelp", {"--help", "-x"}, Stream::Err, "OVDownloader: unknown option '-x'", 2},
        Row{"Argument", {"Setup.pkg"}, Stream::Err, "OVDownloader: unexpected argument 'Setup.pkg'", 2},
        Row{"MissingValue",
            {"--unattended", "--retries"},
            Stream::Err,
            "OVDownloader: missing value after '--retries'",
            2},
        Row{"RetriesNotANumber",
            {"--unattended", "--retries", "many"},
            Stream::Err,
            "OVDownloader: --retries 'many' is not a whole number from 0 to 100",
            2},
        Row{"RetryWaitNotANumber",
            {"--unattended", "--retry-wait=soon"},
            Stream::Err,
            "OVDownloader: --retry-wait 'soon' is not a number of seconds from 0 to 60",
            2},
        Row{"ProgressFormatUnknown",
            {"--unattended", "--progress=xml"},
            Stream::Err,
            "OVDownloader: --progress 'xml' is not auto, lines or json",
            2},
        Row{"DownloadDirUnwritable",
            {"--unattended", "--download-dir=/proc/OVDownloader"},
            Stream::Err,
            "OVDownloader: --download-dir '/proc/OVDownloader' cannot be made or written to",
            2},
        Row{"NoOpenWithoutUnattended",
            {"--no-open"},
            Stream::Err,
            "OVDownloader: --no-open works only with --unattended",
            2},
        Row{.name = "WindowProgramMissing",
            .arguments = {},
            .stream = Stream::Err,
            .firstLine = "OVDownloader: cannot start the window, <home>/Apps/OVDownloader.app/Contents/MacOS/"
                         "OVDownloaderWindow: No such file or directory",
            .exitCode = 1,
            .withoutWindowProgram = true}),
    rowName);

}  // namespace
}  // namespace ov::test
