#pragma once

#include <QString>

#include "ini/Config.h"

namespace ov {

// The INI text of a document: per section, in order, the line "[" name "]",
// then one line "key = value" per setting (in the map's iteration order),
// then one empty line; every line ends in CR LF. No sections, no text.
QString formatINI(const Config& config);

// Writes formatINI(config) as UTF-8 to `filename`, atomically: a temporary
// file beside it replaces the target only once completely written, so
// readers never see a half-written file. When that fails, writes
// "save <filename> failed" to standard output and returns; nothing is thrown.
// Any thread; two saves to the same file at once leave one of the two whole.
void saveINI(const QString& filename, const Config& config);

}  // namespace ov
