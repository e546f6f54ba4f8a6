#pragma once

#include <httplib.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/refservice/InstallerCatalog.h"
#include "tools/refservice/RequestJournal.h"
#include "tools/refservice/ScenarioState.h"

namespace refservice {

// The body of one answer, written slice by slice through the HTTP layer's
// content provider, never held in memory whole. Installer bodies are paced by
// the live scenario (rate limit, hold) and may be cut short (drop fault);
// other bodies may have a fixed pace of their own.
// Each slice updates the request's record; the last one, or a failure, ends it.
class BodyStream {
 public:
  struct Source {
    std::string text;                     // a body held in memory, or
    std::unique_ptr<OpenInstaller> file;  // bytes [offset, offset + length) of a file
    std::int64_t offset = 0;
    std::int64_t length = 0;
  };
  struct Pacing {
    bool paced = false;                        // apply the scenario's rate limit and hold
    std::int64_t bytesPerSecond = 0;           // a rate of its own, in place of the scenario's; 0: none
    std::optional<std::int64_t> dropAfter{};   // abort the connection after this many bytes
    std::optional<std::int64_t> stallAfter{};  // send nothing more after this many bytes until the stop
    bool closeAfter = false;                   // close the connection after the whole body
  };

  BodyStream(RequestJournal& journal, std::uint64_t seq, ScenarioState& state, Source source, Pacing pacing);

  std::int64_t length() const { return source_.length; }
  // One call of the content provider: writes the next slice; false ends the
  // connection (a drop, a failed write or read, a stop).
  bool provide(httplib::DataSink& sink);
  // The HTTP layer is done with the answer.
  void released();

 private:
  std::int64_t rate(const InstallerFaults& faults) const;
  std::size_t nextSliceSize(const InstallerFaults& faults) const;
  bool readSlice(std::size_t size);
  bool fail(const std::string& fault = {});
  // The body no longer counts among those being sent (ScenarioState::openBody()).
  void close();

  RequestJournal& journal_;
  std::uint64_t seq_;
  ScenarioState& state_;
  Source source_;
  Pacing pacing_;
  std::int64_t sent_ = 0;
  bool open_ = false;  // counted among the installer bodies being sent
  // The rate limit counts from here: the first write, the end of a hold, a change of rate.
  std::optional<std::chrono::steady_clock::time_point> paceStart_;
  std::int64_t paceFrom_ = 0;
  std::int64_t paceRate_ = 0;
  std::vector<char> buffer_;
};

}  // namespace refservice
