#pragma once

#include <span>

namespace ov {

// The program's exit statuses, one per outcome, in this one place. A number
// keeps its meaning for good: it is never renumbered or given to another
// outcome, and a new outcome takes the next free number (below 64, clear of
// the shell's 126 and up). The --help text, the unattended mode's messages
// and JSON, and the README all read this table.
//
// They are the statuses of the command line and of the unattended mode; the
// window ends as it always has (0, or 1 when it has nowhere to put a download).
enum class ExitCode : int {
  Delivered = 0,         // the installer is in the download folder (and was opened, unless --no-open)
  BrokenBundle = 1,      // a part of the program itself is missing (the window's executable)
  Usage = 2,             // an unknown option, or a bad or missing value
  Cancelled = 3,         // SIGINT or SIGTERM: the cancellation was reported, nothing left behind
  NoNetwork = 4,         // no network connection, also after the retries; a proxy's login missing or refused
  Service = 5,           // the service gave no usable link, or demands a newer agent (its link printed)
  DownloadFailed = 6,    // the transfer failed, also after the retries
  Integrity = 7,         // the installer's size or digest did not match, also after the retries
  DiskSpace = 8,         // not enough free disk space, or no folder to work in
  BadMakeInfo = 9,       // the bundle's MakeInfo.ini is missing or unreadable
  AnotherInstance = 10,  // another copy of the program is downloading for this user
  SystemTooOld = 11,     // the product needs a newer operating system
};

struct ExitCodeEntry {
  ExitCode code;
  const char* name;     // a stable identifier: the JSON "failure" value ("no-network")
  const char* meaning;  // one line for --help and the README
};

// Every entry, in the order of their numbers.
std::span<const ExitCodeEntry> exitCodeTable();
const ExitCodeEntry& exitCodeEntry(ExitCode code);

inline int exitStatus(ExitCode code) {
  return static_cast<int>(code);
}

}  // namespace ov
