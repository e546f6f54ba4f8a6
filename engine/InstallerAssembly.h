#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "engine/TransferState.h"
#include "platform/AssembledFile.h"

namespace ov {

// The installer put together while its parts download: part i is appended to
// the target as soon as it and every part before it are on disk, and removed
// right after, so the disk holds the installer plus only the parts that wait
// for an earlier one. Every member may be called on any thread.
class InstallerAssembly {
 public:
  struct Layout {
    QString target;                                 // the installer being put together
    std::function<QString(std::int64_t)> partPath;  // where part i lies while it waits
    std::int64_t fileSize = 0;
    std::int64_t chunkLength = 0;  // every part but the last is this long
    std::int64_t partCount = 0;
    // Where checkpoints are recorded, and what they record besides the
    // counts; empty: nothing is recorded (no checkpoint is taken).
    QString statePath;
    TransferState state;
  };

  enum class Outcome { Done, Failed, DigestMismatch };

  // Opens the target and reserves the whole installer's size, keeping the
  // first `appended` parts already in it (0: the target starts empty). With a
  // SHA-256 to check, the kept bytes are hashed first. A new generation: no
  // checkpoint taken before is recorded after.
  bool open(Layout layout, std::int64_t appended, std::optional<QByteArray> sha256, QString& error);

  // Part `index` lies complete on disk, to be appended by appendArrived().
  void markArrived(std::int64_t index);

  // Appends every part that is now next in line. False when an append failed
  // (the reason in `error`); the parts appended before it stay appended. Once
  // the target is finished or closed there is nothing left to do.
  bool appendArrived(QString& error);

  // How many parts the target holds, in order from the first.
  std::int64_t appendedParts() const;

  // What one checkpoint found safely on disk, and the generation of the
  // assembly it counted.
  struct Checkpoint {
    std::uint64_t generation = 0;
    TransferState state;
  };
  // Flushes the target and every arrived part still waiting on disk, so that
  // what they hold survives a power loss, and counts them: the parts appended
  // before the flush and the waiting parts that were flushed. Nothing (and no
  // error) when nothing is to be recorded or the target is finished or closed.
  std::optional<Checkpoint> checkpoint(QString& error);
  // Writes `taken` to the state file, unless the assembly it counted was
  // closed or reopened since: a count of one assembly is never recorded for
  // another. False when nothing was written (`error` empty: it was stale).
  bool record(const Checkpoint& taken, QString& error);

  // Every part has arrived: flushes and closes the target and checks the
  // digest. Failed (reason in `error`) when a part is still missing or the
  // disk refused.
  Outcome finish(QString& error);

  // Closes the target without flushing it. A new generation, as for open().
  void close();

 private:
  bool appendReady(QString& error);

  // `checkpointMutex_` is held while a checkpoint is recorded and while the
  // generation changes (open, close, finish), so that no record lands after
  // the assembly it counted went away. `fileMutex_` is held for the file's
  // work, which may take a while; `arrivalMutex_` only for a moment, so that
  // a part's arrival never waits for another's append (an arrival frees a
  // request slot for the next chunk). Taken in that order.
  std::mutex checkpointMutex_;
  std::mutex fileMutex_;
  mutable std::mutex arrivalMutex_;
  Layout layout_;
  AssembledFile file_;
  std::vector<bool> arrived_;
  std::int64_t appended_ = 0;     // changed with fileMutex_ and arrivalMutex_ held
  std::uint64_t generation_ = 0;  // changed with checkpointMutex_ and fileMutex_ held
  std::optional<QByteArray> sha256_;
  std::optional<QCryptographicHash> hash_;
};

}  // namespace ov
