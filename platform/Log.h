#pragma once

#include <QString>
#include <functional>

namespace ov {

enum class LogChannel {
  System,  // the program's own flow: syslog (ident "OVDownloader") and stderr
  Output,  // diagnostic lines: standard output
};

// Writes one line to the system log and to stderr. The text is written as it
// stands (never used as a format), and lines from several threads never mix.
void systemLog(const QString& line);

// Writes one line to standard output and flushes it.
void outputLine(const QString& line);

// Tests see every line of both channels here, in addition to the real streams.
using LogObserver = std::function<void(LogChannel, const QString&)>;
void setLogObserver(LogObserver observer);

}  // namespace ov
