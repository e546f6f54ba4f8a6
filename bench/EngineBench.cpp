// Drives the real download engine once against a given URL and prints its
// timings as one machine-readable line, for bench/run.sh.
//
//   engine_bench download <url> <size> <etag> <folder>
//       downloads <url> (<size> bytes) into <folder>; prints
//       "transfer=<s> merge=<s> total=<s> cpu=<s> maxrss_kib=<n> ok=<0|1>"
//   engine_bench merge <folder> <size>
//       writes fresh 5 MiB part files of <size> bytes and merges them with the
//       engine's merge; prints "merge=<s>"
//   engine_bench parts <folder> <size>
//       only writes the fresh part files (for timing `cat` of the same parts)

#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <random>

#include "engine/InstallerAssembly.h"
#include "engine/OVDownloadMgr.h"
#include "platform/Log.h"
#include "platform/Toolkit.h"
#include "service/ServiceRequest.h"

namespace {

constexpr std::int64_t kChunk = 5'242'880;

// Declines to open the installer and ends the event loop instead of the program.
class BenchToolkit final : public ov::Toolkit {
 public:
  int runModalAlert(const ov::Alert&) override { return 0; }
  void stopModal() override {}
  void hideWindow(QObject*) override {}
  bool openWithDefaultHandler(const QUrl&) override { return false; }
  void setTerminating() override {}
  void terminate() override { QCoreApplication::quit(); }
};

class BenchDelegate final : public DownloadProxy {
 public:
  bool failed = false;
  void onDownloadProgress(double) override {}
  void onFileCompleteDownload() override {}
  void onDownloadFailed(ERROR_Code) override {
    failed = true;
    QCoreApplication::quit();
  }
  bool checkRetryDownload() override { return false; }
};

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long maxRssKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

std::vector<QUrl> writeParts(const QString& folder, std::int64_t size) {
  QDir().mkpath(folder);
  std::vector<char> block(static_cast<size_t>(kChunk));
  std::mt19937_64 random(42);
  for (auto& byte : block) byte = static_cast<char>(random());
  std::vector<QUrl> parts;
  for (std::int64_t offset = 0, i = 0; offset < size; offset += kChunk, ++i) {
    const QString path = QDir(folder).filePath(QStringLiteral("part.%1").arg(i));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::exit(2);
    block[0] = static_cast<char>(i);  // parts differ, as real ones do
    file.write(block.data(), std::min(kChunk, size - offset));
    parts.push_back(QUrl::fromLocalFile(path));
  }
  return parts;
}

int download(const QString& url, std::int64_t size, const QString& etag, const QString& folder) {
  BenchToolkit toolkit;
  ov::setToolkit(&toolkit);
  // Reports go to a closed port and fail at once; the service is not measured.
  setServiceHostForTesting(QStringLiteral("127.0.0.1:9"));

  QDir().mkpath(folder);
  auto manager = OVDownloadMgr::makeForTesting();
  auto delegate = std::make_shared<BenchDelegate>();
  manager->downloadDelegate.set(delegate);
  manager->sourceUrl = url;
  manager->fileUrl = QUrl::fromLocalFile(QDir(folder).filePath(QStringLiteral("Setup.bin")));
  manager->i64FileSize = size;
  manager->szETag = etag;

  QElapsedTimer clock;
  double transferEnd = 0;
  double mergeEnd = 0;
  ov::setLogObserver([&](ov::LogChannel, const QString& line) {
    if (line.startsWith(QLatin1String("OVDownloadMgr::doDownload() Status Code")))
      transferEnd = clock.elapsed() / 1e3;
    if (line.startsWith(QLatin1String("OVDownloadMgr::mergeChunkedFiles()")))
      mergeEnd = clock.elapsed() / 1e3;
  });

  const double cpuBefore = cpuSeconds();
  clock.start();
  ov::globalUtilityQueue().async([&] { manager->DownloadFile(); });
  QCoreApplication::exec();
  const double total = clock.elapsed() / 1e3;
  ov::setLogObserver(nullptr);

  // The completion moves the installer into the (sandboxed) Downloads folder.
  const bool ok = !delegate->failed && QFile(manager->getDownloadedFileLocation()).size() == size;
  std::printf("transfer=%.3f merge=%.3f total=%.3f cpu=%.3f maxrss_kib=%ld ok=%d\n", transferEnd,
              mergeEnd - transferEnd, total, cpuSeconds() - cpuBefore, maxRssKiB(), ok ? 1 : 0);
  ov::setToolkit(nullptr);
  return ok ? 0 : 1;
}

int mergeOnly(const QString& folder, std::int64_t size) {
  const auto parts = writeParts(folder, size);
  QElapsedTimer clock;
  clock.start();
  // The parts as they would arrive, in order, then the flush to disk.
  InstallerAssembly assembly;
  InstallerAssembly::Layout layout{
      QDir(folder).filePath(QStringLiteral("merged.bin")),
      [&parts](std::int64_t i) { return parts[static_cast<size_t>(i)].toLocalFile(); }, size, kChunk,
      static_cast<std::int64_t>(parts.size())};
  QString error;
  bool ok = assembly.open(std::move(layout), 0, std::nullopt, error);
  for (std::int64_t i = 0; ok && i < static_cast<std::int64_t>(parts.size()); ++i)
    ok = assembly.partArrived(i, error);
  ok = ok && assembly.finish(error) == InstallerAssembly::Outcome::Done;
  std::printf("merge=%.3f\n", clock.elapsed() / 1e3);
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() == 6 && args[1] == QLatin1String("download"))
    return download(args[2], args[3].toLongLong(), args[4], args[5]);
  if (args.size() == 4 && args[1] == QLatin1String("merge")) return mergeOnly(args[2], args[3].toLongLong());
  if (args.size() == 4 && args[1] == QLatin1String("parts")) {
    writeParts(args[2], args[3].toLongLong());
    return 0;
  }
  std::fprintf(stderr,
               "usage: engine_bench download <url> <size> <etag> <folder> | merge|parts <folder> <size>\n");
  return 2;
}
