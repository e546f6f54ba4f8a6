#pragma once

#include <QString>

namespace ov {

// Runs the executable `program` in place of the running one: the same
// process (its id, standard streams and environment), given no arguments but
// `name` as its own (argv[0]: the name the user started the program by).
// Returns only when that failed, with the reason.
QString replaceProcessWith(const QString& program, const char* name);

// Names the running process after the last component of `name` (its argv[0]),
// as tools that list or signal processes by name (ps, pgrep, killall) see it.
// Call it before any other thread exists.
void nameProcessAfter(const char* name);

}  // namespace ov
