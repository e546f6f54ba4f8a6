#pragma once

#include <QString>
#include <cstdio>
#include <functional>

namespace ov {

enum class LogChannel {
  System,  // the program's own flow: syslog (ident "OVDownloader") and stderr
  Output,  // diagnostic lines: standard output
};

// Writes one line to the system log and to stderr (see LogEchoes). The text is written as it
// stands (never used as a format), and lines from several threads never mix.
void systemLog(const QString& line);

// Writes one line to standard output (see LogEchoes) and flushes it.
void outputLine(const QString& line);

// Where the lines go besides the system log: the flow lines to standard
// error, the diagnostic lines to standard output. A front end that keeps
// those streams for what it prints itself (the unattended mode) sends the
// lines elsewhere, or nowhere (null). Set before other threads log.
struct LogEchoes {
  std::FILE* system = stderr;
  std::FILE* output = stdout;
};
void setLogEchoes(LogEchoes echoes);

// Whether `stream` is a terminal (a person watches it), not a file or a pipe.
bool isTerminal(std::FILE* stream);

// Tests see every line of both channels here, in addition to the real streams.
using LogObserver = std::function<void(LogChannel, const QString&)>;
void setLogObserver(LogObserver observer);

}  // namespace ov
