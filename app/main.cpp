// The bundle's executable, OVDownloader. It reads the command line before
// anything else exists, then runs one front end: --help, --version and a
// mistake print and end here; --unattended runs without a window on QtCore;
// no option at all hands the process over to the window's own executable
// beside this one (app/WindowMain.cpp), so that nothing of QtWidgets is ever
// loaded on the other paths.

#include <QStringList>
#include <cstdio>

#include "frontend/CommandLine.h"
#include "frontend/ExitCode.h"
#include "platform/Bundle.h"
#include "platform/ReplaceProcess.h"
#include "unattended/Unattended.h"

namespace {

void print(std::FILE* stream, const QString& text) {
  std::fputs(text.toUtf8().constData(), stream);
  std::fflush(stream);
}

}  // namespace

int main(int argc, char** argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments.append(QString::fromLocal8Bit(argv[i]));
  const ov::CommandLine command = ov::parseCommandLine(arguments);

  switch (command.action) {
    case ov::CommandLine::Action::Help:
      print(stdout, ov::helpText());
      return 0;
    case ov::CommandLine::Action::Version:
      print(stdout, ov::versionText());
      return 0;
    case ov::CommandLine::Action::Usage:
      print(stderr, QStringLiteral("OVDownloader: ") + command.error + u'\n' + ov::usageHint() + u'\n');
      return ov::exitStatus(ov::ExitCode::Usage);
    case ov::CommandLine::Action::Unattended:
      return ov::runUnattended(argc, argv, command);
    case ov::CommandLine::Action::Window:
      break;
  }
  const QString window = ov::Bundle::main().executablePath(QStringLiteral("OVDownloaderWindow"));
  // Under the name it was started by: the window's class for the desktop
  // (WM_CLASS) and its name for ps and killall stay those of OVDownloader.
  const QString error = ov::replaceProcessWith(window, argv[0]);
  print(stderr, QStringLiteral("OVDownloader: cannot start the window, %1: %2\n").arg(window, error));
  return ov::exitStatus(ov::ExitCode::BrokenBundle);
}
