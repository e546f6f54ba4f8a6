#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "engine/DownloadModel.h"
#include "net/HttpClient.h"

namespace ov {

// Which chunk requests run when, for the current run of a download.
//
// Each chunk of the plan is Waiting, InFlight, Arrived (whole on disk) or
// Appended (in the installer). At most kRequests requests are in flight: when
// one ends, the next waiting chunk starts at once, as long as its part number
// lies at most kPartsAhead beyond the first part the installer lacks, so that
// the parts waiting on disk for an earlier one stay bounded. When no waiting
// chunk may start and a slot is free, the request with the most bytes still to
// come is split: it is narrowed to the first half of what it lacks and a
// second request fetches the other half. While a laggard holds the window
// (the first chunk the installer lacks keeps a waiting one from starting),
// only the laggard's requests are split. A remainder under kSmallestSplit is
// never split. A chunk in flight is thus fetched in one or more pieces, each
// the byte range of one request (a DownloadTask whose chuckStart and chunkEnd
// are the piece's); it has arrived once every piece is on disk. A piece whose
// request failed for a reason a new link mends is asked for again, whole, as
// soon as a slot is free.
//
// The window decides and keeps count; its caller starts, narrows, joins and
// appends, and tells it what happened. Pieces are known by their chunk and
// first byte. A call that names another run than the current one changes
// nothing. Thread-safe; nothing is called out of it under its lock but
// DownloadRequest::bytesWritten().
class TransferWindow {
 public:
  static constexpr int kRequests = 10;
  static constexpr std::int64_t kPartsAhead = 20;
  static constexpr std::int64_t kSmallestSplit = 512 * 1024;

  enum class ChunkState { Waiting, InFlight, Arrived, Appended };

  // Narrow `request` (the piece `front` had, up to `back.chunkEnd`) so that it
  // ends at `front.chunkEnd`; once it is narrowed, `back` is to be started.
  struct Split {
    std::shared_ptr<DownloadRequest> request;
    DownloadTask front;
    DownloadTask back;
  };
  struct Steps {
    std::vector<DownloadTask> starts;  // pieces to request now; each has its slot
    std::vector<Split> splits;         // each back piece has its slot too
  };
  struct PieceEnd {
    bool known = false;   // a piece of the current run that was in flight
    bool failed = false;  // it failed, or its bytes fit neither its range nor the narrowing asked for
    bool again = false;   // it failed and waits to be asked for again instead
    // Every piece of its chunk in byte order, once all are on disk: the chunk is complete.
    std::vector<DownloadTask> pieces;
  };

  // Starts run `run` over the whole plan (in part order) with each chunk's
  // state (Waiting, Arrived or Appended); forgets the previous run.
  void reset(std::uint64_t run, std::vector<DownloadTask> plan, std::vector<ChunkState> states);
  // Nothing starts any more in `run` (a failure, a cancel). True the first time.
  bool stop(std::uint64_t run);
  std::uint64_t run() const;

  // What may start now in `run`; nothing while `paused` or once stopped.
  Steps next(std::uint64_t run, bool paused);
  // The request of a piece that next() handed out. False when the run is
  // stopped or over: the request is not needed.
  bool started(std::uint64_t run, const DownloadTask& piece, std::shared_ptr<DownloadRequest> request);
  // How the narrowing of a split went; a refused one frees the back piece's slot.
  void narrowed(std::uint64_t run, const DownloadTask& back, bool accepted);
  // The request of `piece` ended, with `bytes` written when it succeeded and
  // nothing when it failed. Frees its slot. A failed piece fails its chunk,
  // unless `again`: then it is asked for again by a later next().
  PieceEnd ended(std::uint64_t run, const DownloadTask& piece, std::optional<std::int64_t> bytes,
                 bool again = false);
  // Pieces started from now on in `run` fetch `link`.
  void relink(std::uint64_t run, const QString& link);
  // The chunk lies whole on disk as its part file.
  void arrived(std::uint64_t run, std::int64_t partIndex);
  // The installer holds the first `count` parts.
  void appended(std::uint64_t run, std::int64_t count);
  // True once per run: when every chunk has arrived and the run was not stopped.
  bool claimEnd(std::uint64_t run);

  // The requests in flight, for pause and cancel.
  std::vector<std::shared_ptr<DownloadRequest>> requests() const;
  // How much of chunk `partIndex` is on disk, 0 to 1.
  double fraction(std::uint64_t run, std::int64_t partIndex) const;

 private:
  enum class PieceState {
    Reserved,  // the back piece of a split whose narrowing is not yet answered
    Ready,     // to be started
    Starting,  // handed out by next()
    Running,   // its request runs
    Again,     // its request failed; to be started again, once a slot is free
    Done,      // on disk
  };
  struct Piece {
    std::int64_t first = 0;
    std::int64_t last = 0;
    PieceState state = PieceState::Starting;
    std::optional<std::int64_t> narrowingTo;  // the end a split asked its request for, not yet answered
    std::shared_ptr<DownloadRequest> request;
  };
  struct Chunk {
    DownloadTask task;
    ChunkState state = ChunkState::Waiting;
    std::vector<Piece> pieces;  // while in flight
  };

  Chunk* chunkOf(std::uint64_t run, std::int64_t partIndex);
  static Piece* pieceAt(Chunk& chunk, std::int64_t first);
  static DownloadTask taskOf(const Chunk& chunk, const Piece& piece);
  static std::int64_t written(const Piece& piece);
  // Gives up the reserved back piece that starts at `first`, and its slot.
  void dropBack(Chunk& chunk, std::int64_t first);
  bool addSplit(Steps& steps, bool heldByLaggard);

  mutable std::mutex mutex_;
  std::uint64_t run_ = 0;
  std::vector<Chunk> chunks_;
  bool stopped_ = false;
  bool endClaimed_ = false;
  std::int64_t appended_ = 0;  // the first part the installer lacks
  int slots_ = 0;              // requests in flight, and slots reserved for back pieces
};

}  // namespace ov
