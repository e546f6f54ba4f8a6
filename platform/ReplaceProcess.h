#pragma once

#include <QString>

namespace ov {

// Runs the executable `program` in place of the running one: the same
// process (its id, standard streams and environment), given no arguments but
// its own path. Returns only when that failed, with the reason.
QString replaceProcessWith(const QString& program);

}  // namespace ov
