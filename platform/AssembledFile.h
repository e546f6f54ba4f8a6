#pragma once

#include <QString>
#include <atomic>
#include <cstdint>
#include <optional>

class QCryptographicHash;

namespace ov {

// A file put together from other files at known offsets: the installer from
// its downloaded parts. Errors come back as printable text. Not thread-safe.
class AssembledFile {
 public:
  AssembledFile() = default;
  ~AssembledFile();  // closes without a final flush
  AssembledFile(const AssembledFile&) = delete;
  AssembledFile& operator=(const AssembledFile&) = delete;

  // Opens the regular file `path` for writing, never through a link: its
  // bytes stay, unless `truncate` is set, when whatever stands at `path` (a
  // file, a link, a FIFO, a folder) is removed and a new, empty file made.
  bool open(const QString& path, bool truncate, QString& error);
  bool isOpen() const { return fd_ >= 0; }

  // Makes the file `size` bytes long with its blocks allocated, so that a full
  // disk shows now rather than halfway. Where the file system cannot reserve,
  // the file is only extended.
  bool reserve(std::int64_t size, QString& error);

  // Writes the first `length` bytes of the regular file `part` (not followed
  // when a link) at `offset`. The kernel
  // moves them where it can (a reflink clone shares the blocks,
  // copy_file_range copies without passing through user space); with `hash`
  // they are read, added to it and written. Fails when `part` is shorter.
  bool copyFrom(const QString& part, std::int64_t offset, std::int64_t length, QCryptographicHash* hash,
                QString& error);

  // Adds the file's first `length` bytes to `hash`.
  bool hashPrefix(std::int64_t length, QCryptographicHash& hash, QString& error);

  // A flush of the bytes written so far that runs later, on another thread,
  // while copyFrom() writes more. It holds a descriptor of its own: made while
  // the file is open (under the owner's lock, so no close() runs meanwhile),
  // it never flushes another file that was given the number after a close.
  class Flush {
   public:
    Flush(Flush&& other) noexcept;
    Flush& operator=(Flush&& other) noexcept;
    ~Flush();
    bool run(QString& error);

   private:
    friend class AssembledFile;
    Flush(int fd, QString path);
    int fd_;
    QString path_;
  };
  std::optional<Flush> beginFlush(QString& error) const;

  // Flushes everything to the disk and closes; reports a failure that only
  // the flush or the close sees (a full disk on a network file system).
  bool close(QString& error);

  // Closes without flushing; the bytes written so far stay.
  void abandon();

 private:
  bool copy(const QString& part, std::int64_t offset, std::int64_t length, QCryptographicHash* hash,
            QString& error);

  std::atomic<int> fd_{-1};
  QString path_;
};

}  // namespace ov
