#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

// File-system steps whose outcome the download's integrity rests on. Each
// returns false with a printable reason when it fails. Any thread.
namespace ov {

enum class EntryKind { None, RegularFile, Other };

// What stands at `path`, without following a final symbolic link (a link, a
// folder, a socket are all Other).
EntryKind entryKind(const QString& path);

// The size of the regular file at `path` (a link is not followed).
std::optional<std::int64_t> regularFileSize(const QString& path);

// Moves the regular file `from` to `to`, replacing a regular file there and
// nothing else. Within a volume it is one rename; across volumes the bytes go
// to a temporary file beside `to`, are flushed to disk and renamed into
// place, so `to` is never seen half written, and `from` is removed after.
bool moveFile(const QString& from, const QString& to, QString& error);

// Replaces the file at `path` with `bytes` so that a crash or a power loss
// leaves either the old or the new contents: a temporary file beside it,
// flushed, renamed over it, and the folder flushed.
bool writeFileDurably(const QString& path, const QByteArray& bytes, QString& error);

// Removes `path` and everything below it, never following a link out of it.
// Nothing there is success.
bool removeTree(const QString& path, QString& error);

}  // namespace ov
