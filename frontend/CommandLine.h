#pragma once

#include <QString>
#include <QStringList>
#include <chrono>

namespace ov {

// How the unattended mode reports its progress.
enum class ProgressFormat {
  Auto,   // a line redrawn in place on a terminal, else Lines
  Lines,  // one line per 5 % and one per change of state (a pipe, a log)
  Json,   // one JSON object per line on standard output
};

// What the command line asks for. Everything but the action applies to the
// unattended mode only.
struct CommandLine {
  enum class Action {
    Window,      // no options: the window
    Unattended,  // --unattended
    Help,        // --help: print helpText() on stdout
    Version,     // --version: print versionText() on stdout
    Usage,       // a mistake: print `error` and the hint on stderr, exit with ExitCode::Usage
  };
  Action action = Action::Window;
  QString error;  // for Usage: one line naming the option or argument at fault

  int retries = 3;                                 // --retries N
  std::chrono::milliseconds retryWait{2000};       // --retry-wait SECONDS, doubled per retry
  bool openInstaller = true;                       // cleared by --no-open
  QString downloadFolder;                          // --download-dir DIR, absolute; empty: Downloads
  ProgressFormat progress = ProgressFormat::Auto;  // --progress FORMAT
  bool verbose = false;                            // --verbose
};

// Reads the arguments (the program's name first) with QCommandLineParser. It
// needs no application object and touches nothing: no display, no file of
// the bundle, no lock, no network. --help and --version win over everything
// else on the line, except a mistake before them.
CommandLine parseCommandLine(const QStringList& arguments);

// The usage text (options, environment variables, exit codes), "\n"-ended.
QString helpText();
// "OVDownloader <CFBundleShortVersionString> (build <CFBundleVersion>)" from
// the bundle's Info.plist, "\n"-ended.
QString versionText();
// The second line of a usage mistake.
QString usageHint();

}  // namespace ov
