#include "engine/InstallerAssembly.h"

#include <QFile>
#include <algorithm>

#include "platform/FileOps.h"

namespace ov {

bool InstallerAssembly::open(Layout layout, std::int64_t appended, std::optional<QByteArray> sha256,
                             QString& error) {
  const std::scoped_lock lk(checkpointMutex_, fileMutex_, arrivalMutex_);
  ++generation_;
  layout_ = std::move(layout);
  arrived_.assign(static_cast<std::size_t>(layout_.partCount), false);
  appended_ = std::clamp<std::int64_t>(appended, 0, layout_.partCount);
  std::fill_n(arrived_.begin(), appended_, true);
  sha256_ = std::move(sha256);
  hash_.reset();
  if (!file_.open(layout_.target, appended_ == 0, error) || !file_.reserve(layout_.fileSize, error))
    return false;
  if (sha256_) {
    hash_.emplace(QCryptographicHash::Sha256);
    const std::int64_t kept = std::min(appended_ * layout_.chunkLength, layout_.fileSize);
    if (!file_.hashPrefix(kept, *hash_, error)) return false;
  }
  return true;
}

void InstallerAssembly::markArrived(std::int64_t index) {
  std::lock_guard lk(arrivalMutex_);
  if (index >= 0 && index < layout_.partCount) arrived_[static_cast<std::size_t>(index)] = true;
}

bool InstallerAssembly::appendArrived(QString& error) {
  std::lock_guard lk(fileMutex_);
  return !file_.isOpen() || appendReady(error);
}

bool InstallerAssembly::appendReady(QString& error) {
  if (!file_.isOpen()) {
    error = QStringLiteral("the installer is not open");
    return false;
  }
  for (;;) {
    {
      std::lock_guard lk(arrivalMutex_);
      if (appended_ >= layout_.partCount || !arrived_[static_cast<std::size_t>(appended_)]) return true;
    }
    const std::int64_t offset = appended_ * layout_.chunkLength;
    const std::int64_t length = std::min(layout_.chunkLength, layout_.fileSize - offset);
    const QString part = layout_.partPath(appended_);
    if (!file_.copyFrom(part, offset, length, hash_ ? &*hash_ : nullptr, error)) return false;
    // Removed at once: its page-cache pages are reused for the next part
    // instead of new ones being taken.
    QFile::remove(part);
    std::lock_guard lk(arrivalMutex_);
    ++appended_;
  }
}

std::int64_t InstallerAssembly::appendedParts() const {
  std::lock_guard lk(arrivalMutex_);
  return appended_;
}

std::optional<InstallerAssembly::Checkpoint> InstallerAssembly::checkpoint(QString& error) {
  Checkpoint taken;
  std::optional<AssembledFile::Flush> flush;
  std::vector<QString> waiting;
  {
    std::lock_guard lk(fileMutex_);
    if (!file_.isOpen() || layout_.statePath.isEmpty()) return std::nullopt;
    taken.generation = generation_;
    taken.state = layout_.state;
    taken.state.appendedParts = appended_;
    {
      std::lock_guard arrivals(arrivalMutex_);
      for (std::int64_t i = appended_; i < layout_.partCount; ++i)
        if (arrived_[static_cast<std::size_t>(i)]) taken.state.flushedParts.push_back(i);
    }
    for (const std::int64_t part : taken.state.flushedParts) waiting.push_back(layout_.partPath(part));
    flush = file_.beginFlush(error);
    if (!flush) return std::nullopt;
  }
  // Flushed without the lock: appends go on meanwhile, and only what was
  // appended before is counted.
  if (!flush->run(error)) return std::nullopt;
  // A waiting part counts only once its bytes are on the disk. One appended
  // (and removed) meanwhile is not counted: its bytes may lie beyond the
  // counted prefix, so a later attempt fetches it again.
  std::vector<std::int64_t> flushed;
  for (std::size_t i = 0; i < waiting.size(); ++i) {
    QString ignored;
    if (flushFile(waiting[i], ignored)) flushed.push_back(taken.state.flushedParts[i]);
  }
  taken.state.flushedParts = std::move(flushed);
  return taken;
}

bool InstallerAssembly::record(const Checkpoint& taken, QString& error) {
  // Under the lock that closing and reopening take: a checkpoint that flushed
  // while the assembly was discarded (a failed size check) and reopened (its
  // restart) would otherwise count the new, zero-filled reservation's parts
  // as appended.
  std::lock_guard lk(checkpointMutex_);
  if (taken.generation != generation_) return false;
  return taken.state.save(layout_.statePath, error);
}

InstallerAssembly::Outcome InstallerAssembly::finish(QString& error) {
  const std::scoped_lock lk(checkpointMutex_, fileMutex_);
  // Finished or not, nothing counted before is recorded after.
  ++generation_;
  if (!appendReady(error)) return Outcome::Failed;
  if (appended_ != layout_.partCount) {
    error = QStringLiteral("part %1 of %2 never arrived").arg(appended_).arg(layout_.partCount);
    return Outcome::Failed;
  }
  if (!file_.close(error)) return Outcome::Failed;
  if (hash_ && hash_->result() != *sha256_) {
    error = QStringLiteral("the installer's SHA-256 differs from the one the server announced");
    return Outcome::DigestMismatch;
  }
  return Outcome::Done;
}

void InstallerAssembly::close() {
  const std::scoped_lock lk(checkpointMutex_, fileMutex_);
  ++generation_;
  file_.abandon();
}

}  // namespace ov
