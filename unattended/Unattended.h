#pragma once

#include "frontend/CommandLine.h"

namespace ov {

// The program with --unattended: a QCoreApplication (no display, and nothing
// of QtWidgets loaded), the shared download manager, an UnattendedRun and
// its ProgressReport, and the termination signals. Returns only when the run
// ended before its first request; otherwise the process ends with the run's
// exit code, as the window's does, without waiting for threads still blocked
// in a request.
int runUnattended(int argc, char** argv, const CommandLine& command);

}  // namespace ov
