#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
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
// nothing else, by one rename of a file that `check` accepted: a file at `to`
// is replaced by the checked one or stays as it was, whatever fails. Within a
// volume `from` itself is checked and renamed; across volumes its bytes go to
// a new temporary file beside `to`, are flushed to disk, checked and renamed
// into place, and `from` is removed after. `check` is given the path of the
// file that would be renamed.
bool moveFile(const QString& from, const QString& to, const std::function<bool(const QString&)>& check,
              QString& error);
// The same for a file that needs no check (one the program itself has just
// written and counted).
bool moveFile(const QString& from, const QString& to, QString& error);

// Replaces the file at `path` with `bytes` so that a crash or a power loss
// leaves either the old or the new contents: a new temporary file beside it
// with these permissions, flushed, renamed over it (over a link, not through
// it), and the folder flushed.
bool writeFileDurably(const QString& path, const QByteArray& bytes, int permissions, QString& error);

// Flushes the data of the regular file at `path` (a link is not followed, a
// FIFO never waited for) so that it survives a power loss.
bool flushFile(const QString& path, QString& error);

// The bytes of the regular file at `path` when it holds at most `limit`
// bytes. A link is not followed, and a FIFO or a device is never read (nor
// waited for): each fails like a missing or larger file.
std::optional<QByteArray> readRegularFile(const QString& path, std::int64_t limit, QString& error);

// Makes way for a regular file at `path`: nothing there, or a regular file,
// stays as it is; a link, a FIFO, a socket or a device node is removed (the
// entry, never what a link points to), and so is a folder with everything in
// it (links inside removed, not followed). False when something still stands
// there.
bool clearWayForFile(const QString& path, QString& error);

// Makes `path` a folder that only its owner may enter (0700): a folder there
// keeps its contents, anything else at the path (a link, a file) is removed
// first, never followed.
bool makePrivateFolder(const QString& path, QString& error);

// Removes `path` and everything below it, never following a link out of it.
// Nothing there is success.
bool removeTree(const QString& path, QString& error);

}  // namespace ov
