#include <gtest/gtest.h>

#include "tests/support/Files.h"
#include "unattended/ProgressReport.h"

namespace ov::test {
namespace {

using namespace std::chrono_literals;
using Style = ProgressReport::Style;

struct Row {
  const char* name;
  Style style;
  ExitCode end;
  const char* detail;
  const char* out;  // everything on stdout
  const char* err;  // everything on stderr
};
void PrintTo(const Row& row, std::ostream* out) {
  *out << row.name;
}

class ProgressTable : public ::testing::TestWithParam<Row> {};

// A 100 MiB installer, 5 % done after 100 ms, then 10, 15 and 20 % every
// 100 to 200 ms, then the outcome. Redrawn lines and JSON objects come at most
// every 250 ms; log lines at each 5 % step; the speed is over the last few
// seconds; the outcome is one line on stderr whatever the style.
TEST_P(ProgressTable, PrintsWhatEachStyleShows) {
  const Row& row = GetParam();
  std::chrono::steady_clock::time_point now{};
  QByteArray out, err;
  ProgressReport report(
      row.style, [&](const QByteArray& bytes) { out += bytes; },
      [&](const QByteArray& bytes) { err += bytes; }, [&] { return now; });
  report.preparing(QStringLiteral("Sample Studio 2.1"));
  report.downloading(100 * 1048576, QStringLiteral("/d/Setup.pkg"));
  for (const auto& [at, fraction] : {std::pair{100ms, 0.05}, {300ms, 0.10}, {400ms, 0.15}, {600ms, 0.20}}) {
    now = std::chrono::steady_clock::time_point(at);
    report.progress(fraction);
  }
  report.finish(row.end, QString::fromUtf8(row.detail));
  EXPECT_EQ(out.toStdString(), row.out);
  EXPECT_EQ(err.toStdString(), row.err);
}

INSTANTIATE_TEST_SUITE_P(
    Styles, ProgressTable,
    ::testing::Values(Row{"Terminal", Style::Terminal, ExitCode::Delivered, "/d/Setup.pkg", "",
                          "Preparing the download of Sample Studio 2.1\n"
                          "Downloading 100.0 MiB to /d/Setup.pkg\n"
                          "\r 10%  10.0 MiB of 100.0 MiB  25.0 MiB/s  0:04 left"
                          "\r 20%  20.0 MiB of 100.0 MiB  30.0 MiB/s  0:03 left"
                          "\r100%  100.0 MiB of 100.0 MiB  30.0 MiB/s  0:00 left\n"
                          "OVDownloader: delivered /d/Setup.pkg\n"},
                      Row{"Lines", Style::Lines, ExitCode::Delivered, "/d/Setup.pkg", "",
                          "Preparing the download of Sample Studio 2.1\n"
                          "Downloading 100.0 MiB to /d/Setup.pkg\n"
                          "  5%  5.00 MiB of 100.0 MiB  0 B/s  --:-- left\n"
                          " 10%  10.0 MiB of 100.0 MiB  25.0 MiB/s  0:04 left\n"
                          " 15%  15.0 MiB of 100.0 MiB  33.3 MiB/s  0:03 left\n"
                          " 20%  20.0 MiB of 100.0 MiB  30.0 MiB/s  0:03 left\n"
                          "OVDownloader: delivered /d/Setup.pkg\n"},
                      Row{"Json", Style::Json, ExitCode::Delivered, "/d/Setup.pkg",
                          R"({"bytes":0,"speed":0,"state":"preparing","total":0}
{"bytes":0,"speed":0,"state":"downloading","total":104857600}
{"bytes":10485760,"speed":26214400,"state":"downloading","total":104857600}
{"bytes":20971520,"speed":31457280,"state":"downloading","total":104857600}
{"bytes":104857600,"exitCode":0,"path":"/d/Setup.pkg","speed":31457280,"state":"delivered","total":104857600}
)",
                          "OVDownloader: delivered /d/Setup.pkg\n"},
                      Row{"JsonFailure", Style::Json, ExitCode::DownloadFailed, "the download failed",
                          R"({"bytes":0,"speed":0,"state":"preparing","total":0}
{"bytes":0,"speed":0,"state":"downloading","total":104857600}
{"bytes":10485760,"speed":26214400,"state":"downloading","total":104857600}
{"bytes":20971520,"speed":31457280,"state":"downloading","total":104857600}
{"bytes":20971520,"exitCode":6,"failure":"download-failed","message":"the download failed","speed":31457280,"state":"failed","total":104857600}
)",
                          "OVDownloader: the download failed\n"}),
    rowName);

}  // namespace
}  // namespace ov::test
