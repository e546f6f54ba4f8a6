#include "unattended/Unattended.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

#include "engine/OVDownloadMgr.h"
#include "platform/Log.h"
#include "platform/TerminationSignals.h"
#include "unattended/ProgressReport.h"
#include "unattended/ProxyLoginFromEnvironment.h"
#include "unattended/UnattendedRun.h"

namespace ov {

namespace {

ProgressReport::Write writerOf(std::FILE* stream) {
  return [stream](const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
  };
}

ProgressReport::Style styleOf(const CommandLine& command) {
  switch (command.progress) {
    case ProgressFormat::Json:
      return ProgressReport::Style::Json;
    case ProgressFormat::Lines:
      return ProgressReport::Style::Lines;
    case ProgressFormat::Auto:
      break;
  }
  // Log lines on the same stream would tear a line that is redrawn in place.
  return isTerminal(stderr) && !command.verbose ? ProgressReport::Style::Terminal
                                                : ProgressReport::Style::Lines;
}

}  // namespace

int runUnattended(int argc, char** argv, const CommandLine& command) {
  // Standard output and error carry what this mode prints for scripts and
  // people; the program's own log lines stay in the system log unless asked for.
  setLogEchoes(command.verbose ? LogEchoes{stderr, stderr} : LogEchoes{nullptr, nullptr});
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("OVDownloader"));

  ProgressReport report(styleOf(command), writerOf(stdout), writerOf(stderr));
  UnattendedRun::Settings settings;
  settings.retries = command.retries;
  settings.retryWait = command.retryWait;
  settings.delivery.folder = command.downloadFolder;
  settings.delivery.openInstaller = command.openInstaller;
  // Alive until the process ends: the HTTP client may ask it until then.
  static ProxyLoginFromEnvironment proxyLogin;
  setProxyLoginSource([](const ProxyLoginQuestion& question, const ProxyLoginAnswer& answer) {
    proxyLogin.answer(question, answer);
  });
  settings.proxyFailure = [] { return proxyLogin.failure(); };
  const auto run = UnattendedRun::create(OVDownloadMgr::shared(), settings, report);

  TerminationSignals terminationSignals;
  QObject::connect(&terminationSignals, &TerminationSignals::received, run.get(),
                   [&run](int signalNumber) { run->onTerminationSignal(signalNumber); });

  if (const auto ended = run->start()) return exitStatus(*ended);
  QCoreApplication::exec();

  // The process ends here, as the window's does: threads still blocked in a
  // service call or a transfer are not waited for, and no teardown races them.
  const int status = exitStatus(run->exitCode());
  run->releaseGuard();
  std::fflush(nullptr);
  std::_Exit(status);
}

}  // namespace ov
