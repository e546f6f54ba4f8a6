#include "engine/TransferWindow.h"

#include <algorithm>
#include <utility>

namespace ov {

void TransferWindow::reset(std::uint64_t run, std::vector<DownloadTask> plan,
                           std::vector<ChunkState> states) {
  std::lock_guard lk(mutex_);
  run_ = run;
  chunks_.clear();
  chunks_.reserve(plan.size());
  for (std::size_t i = 0; i < plan.size(); ++i)
    chunks_.push_back(Chunk{std::move(plan[i]), states.at(i), {}});
  stopped_ = false;
  endClaimed_ = false;
  slots_ = 0;
  appended_ = 0;
  while (appended_ < static_cast<std::int64_t>(chunks_.size()) &&
         chunks_[static_cast<std::size_t>(appended_)].state == ChunkState::Appended)
    ++appended_;
}

bool TransferWindow::stop(std::uint64_t run) {
  std::lock_guard lk(mutex_);
  if (run != run_ || stopped_) return false;
  stopped_ = true;
  return true;
}

std::uint64_t TransferWindow::run() const {
  std::lock_guard lk(mutex_);
  return run_;
}

TransferWindow::Chunk* TransferWindow::chunkOf(std::uint64_t run, std::int64_t partIndex) {
  if (run != run_ || partIndex < 0 || partIndex >= static_cast<std::int64_t>(chunks_.size())) return nullptr;
  return &chunks_[static_cast<std::size_t>(partIndex)];
}

TransferWindow::Piece* TransferWindow::pieceAt(Chunk& chunk, std::int64_t first) {
  const auto found = std::find_if(chunk.pieces.begin(), chunk.pieces.end(),
                                  [first](const Piece& p) { return p.first == first; });
  return found == chunk.pieces.end() ? nullptr : &*found;
}

DownloadTask TransferWindow::taskOf(const Chunk& chunk, const Piece& piece) {
  DownloadTask task = chunk.task;
  task.chuckStart = piece.first;
  task.chunkEnd = piece.last;
  return task;
}

std::int64_t TransferWindow::written(const Piece& piece) {
  const std::int64_t bytes = piece.request ? piece.request->bytesWritten() : 0;
  return std::clamp<std::int64_t>(bytes, 0, piece.last - piece.first + 1);
}

TransferWindow::Steps TransferWindow::next(std::uint64_t run, bool paused) {
  std::lock_guard lk(mutex_);
  Steps steps;
  if (run != run_ || stopped_ || paused) return steps;
  // Everything before the first part the installer lacks is in it already.
  const auto from = chunks_.begin() + appended_;
  // Back pieces whose request was narrowed have their slots.
  for (auto chunk = from; chunk != chunks_.end(); ++chunk) {
    for (auto& piece : chunk->pieces) {
      if (piece.state != PieceState::Ready) continue;
      piece.state = PieceState::Starting;
      steps.starts.push_back(taskOf(*chunk, piece));
    }
  }
  // Pieces asked for again come before new chunks: they are what the
  // installer lacks first.
  for (auto chunk = from; chunk != chunks_.end() && slots_ < kRequests; ++chunk) {
    for (auto& piece : chunk->pieces) {
      if (piece.state != PieceState::Again || slots_ >= kRequests) continue;
      piece.state = PieceState::Starting;
      ++slots_;
      steps.starts.push_back(taskOf(*chunk, piece));
    }
  }
  bool heldByLaggard = false;
  for (auto chunk = from; chunk != chunks_.end() && slots_ < kRequests; ++chunk) {
    if (chunk->state != ChunkState::Waiting) continue;
    // Beyond this, parts would pile up on disk behind a laggard.
    if (chunk->task.partIndex > appended_ + kPartsAhead) {
      heldByLaggard = true;
      break;
    }
    chunk->state = ChunkState::InFlight;
    chunk->pieces = {Piece{chunk->task.chuckStart, chunk->task.chunkEnd, PieceState::Starting, {}, nullptr}};
    ++slots_;
    steps.starts.push_back(chunk->task);
  }
  while (slots_ < kRequests && addSplit(steps, heldByLaggard)) {
  }
  return steps;
}

bool TransferWindow::addSplit(Steps& steps, bool heldByLaggard) {
  Chunk* chunk = nullptr;
  Piece* front = nullptr;
  std::int64_t done = 0;
  std::int64_t left = 0;
  for (auto c = chunks_.begin() + appended_; c != chunks_.end(); ++c) {
    if (c->state != ChunkState::InFlight) continue;
    for (auto& piece : c->pieces) {
      if (piece.state != PieceState::Running || piece.narrowingTo || !piece.request) continue;
      const std::int64_t bytes = written(piece);
      const std::int64_t rest = piece.last - piece.first + 1 - bytes;
      if (rest > left) {
        chunk = &*c, front = &piece, done = bytes, left = rest;
      }
    }
    // Only a split of the laggard frees the window. A split of a chunk that
    // has just started would end its request halfway instead, and with it a
    // connection that may well be one of the fast ones.
    if (heldByLaggard) break;
  }
  if (front == nullptr || left < kSmallestSplit) return false;
  // The request keeps the first half of what it lacks; the second half goes
  // to a new request at once, as the request may be the slow one.
  const std::int64_t backFirst = front->first + done + left / 2;
  front->narrowingTo = backFirst - 1;
  Piece back{backFirst, front->last, PieceState::Reserved, {}, nullptr};
  Split split{front->request, taskOf(*chunk, *front), taskOf(*chunk, back)};
  split.front.chunkEnd = backFirst - 1;
  chunk->pieces.push_back(std::move(back));
  ++slots_;
  steps.splits.push_back(std::move(split));
  return true;
}

bool TransferWindow::started(std::uint64_t run, const DownloadTask& piece,
                             std::shared_ptr<DownloadRequest> request) {
  std::lock_guard lk(mutex_);
  Chunk* chunk = chunkOf(run, piece.partIndex);
  if (chunk == nullptr || stopped_) return false;
  // A request that ended at once (a link that cannot be fetched) has been
  // counted already.
  Piece* p = pieceAt(*chunk, piece.chuckStart);
  if (p != nullptr && p->state == PieceState::Starting) {
    p->state = PieceState::Running;
    p->request = std::move(request);
  }
  return true;
}

void TransferWindow::narrowed(std::uint64_t run, const DownloadTask& back, bool accepted) {
  std::lock_guard lk(mutex_);
  Chunk* chunk = chunkOf(run, back.partIndex);
  if (chunk == nullptr) return;
  Piece* backPiece = pieceAt(*chunk, back.chuckStart);
  // Gone: the request ended whole before this answer came, so it was refused.
  if (backPiece == nullptr || backPiece->state != PieceState::Reserved) return;
  for (auto& piece : chunk->pieces) {
    if (piece.narrowingTo != back.chuckStart - 1) continue;
    if (accepted) piece.last = *piece.narrowingTo;
    piece.narrowingTo.reset();
  }
  if (accepted) {
    backPiece->state = PieceState::Ready;
  } else {
    dropBack(*chunk, back.chuckStart);
  }
}

void TransferWindow::dropBack(Chunk& chunk, std::int64_t first) {
  std::erase_if(chunk.pieces,
                [first](const Piece& p) { return p.first == first && p.state == PieceState::Reserved; });
  --slots_;
}

TransferWindow::PieceEnd TransferWindow::ended(std::uint64_t run, const DownloadTask& piece,
                                               std::optional<std::int64_t> bytes, bool again) {
  std::lock_guard lk(mutex_);
  PieceEnd end;
  Chunk* chunk = chunkOf(run, piece.partIndex);
  Piece* p = chunk && chunk->state == ChunkState::InFlight ? pieceAt(*chunk, piece.chuckStart) : nullptr;
  if (p == nullptr || (p->state != PieceState::Starting && p->state != PieceState::Running)) return end;
  end.known = true;
  --slots_;
  p->state = PieceState::Done;
  p->request.reset();
  const auto fits = [&](std::int64_t last) { return bytes && *bytes == last - p->first + 1; };
  const auto narrowing = std::exchange(p->narrowingTo, std::nullopt);
  if (narrowing && fits(*narrowing)) {
    // Narrowed: the answer about it may still be on its way.
    p->last = *narrowing;
  } else if (fits(p->last)) {
    // Whole: the narrowing came too late, and its back piece is not needed.
    if (narrowing) dropBack(*chunk, *narrowing + 1);
  } else if (again && !bytes) {
    // Whole again: what a failed request wrote is gone. A narrowing that was
    // still to be answered gives its back piece up, so the two never overlap.
    if (narrowing) dropBack(*chunk, *narrowing + 1);
    p->state = PieceState::Again;
    end.again = true;
    return end;
  } else {
    end.failed = true;
    return end;
  }
  if (std::any_of(chunk->pieces.begin(), chunk->pieces.end(),
                  [](const Piece& other) { return other.state != PieceState::Done; }))
    return end;
  std::vector<Piece> pieces = chunk->pieces;
  std::sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) { return a.first < b.first; });
  std::int64_t expected = chunk->task.chuckStart;
  for (const auto& done : pieces) {
    end.failed = end.failed || done.first != expected;
    expected = done.last + 1;
    end.pieces.push_back(taskOf(*chunk, done));
  }
  end.failed = end.failed || expected != chunk->task.chunkEnd + 1;
  if (end.failed) end.pieces.clear();
  return end;
}

void TransferWindow::relink(std::uint64_t run, const QString& link) {
  std::lock_guard lk(mutex_);
  if (run != run_) return;
  for (auto& chunk : chunks_) chunk.task.cloudPath = link;
}

void TransferWindow::arrived(std::uint64_t run, std::int64_t partIndex) {
  std::lock_guard lk(mutex_);
  Chunk* chunk = chunkOf(run, partIndex);
  if (chunk == nullptr || chunk->state == ChunkState::Appended) return;
  chunk->state = ChunkState::Arrived;
  chunk->pieces.clear();
}

void TransferWindow::appended(std::uint64_t run, std::int64_t count) {
  std::lock_guard lk(mutex_);
  if (run != run_) return;
  count = std::min<std::int64_t>(count, static_cast<std::int64_t>(chunks_.size()));
  for (; appended_ < count; ++appended_)
    chunks_[static_cast<std::size_t>(appended_)].state = ChunkState::Appended;
}

bool TransferWindow::claimEnd(std::uint64_t run) {
  std::lock_guard lk(mutex_);
  if (run != run_ || stopped_ || endClaimed_) return false;
  const bool all = std::all_of(chunks_.begin(), chunks_.end(), [](const Chunk& chunk) {
    return chunk.state == ChunkState::Arrived || chunk.state == ChunkState::Appended;
  });
  endClaimed_ = all;
  return all;
}

std::vector<std::shared_ptr<DownloadRequest>> TransferWindow::requests() const {
  std::lock_guard lk(mutex_);
  std::vector<std::shared_ptr<DownloadRequest>> requests;
  for (const auto& chunk : chunks_)
    for (const auto& piece : chunk.pieces)
      if (piece.request) requests.push_back(piece.request);
  return requests;
}

double TransferWindow::fraction(std::uint64_t run, std::int64_t partIndex) const {
  std::lock_guard lk(mutex_);
  if (run != run_ || partIndex < 0 || partIndex >= static_cast<std::int64_t>(chunks_.size())) return 0.0;
  const Chunk& chunk = chunks_[static_cast<std::size_t>(partIndex)];
  if (chunk.state == ChunkState::Arrived || chunk.state == ChunkState::Appended) return 1.0;
  std::int64_t bytes = 0;
  for (const auto& piece : chunk.pieces)
    bytes += piece.state == PieceState::Done ? piece.last - piece.first + 1 : written(piece);
  return static_cast<double>(bytes) / static_cast<double>(chunk.task.length());
}

}  // namespace ov
