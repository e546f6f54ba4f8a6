#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "tools/refservice/RequestRecord.h"

namespace refservice {

// The service's record of every request, in arrival order. All members are
// thread-safe; waiters are woken on every change.
class RequestJournal {
 public:
  using Predicate = std::function<bool(const std::vector<RequestRecord>&)>;

  // From now on, appends each record to `jsonLinesFile` (created or emptied
  // here) as one JSON line when its answer ends. Throws std::runtime_error if
  // the file cannot be opened.
  void recordTo(const std::string& jsonLinesFile);

  // Adds a record and gives its sequence number (set in the record).
  std::uint64_t begin(RequestRecord record);
  // Changes a record; records removed by clear() are left alone.
  void update(std::uint64_t seq, const std::function<void(RequestRecord&)>& change);
  // Sets the record's outcome (Complete or Aborted) and writes its JSON line.
  // Only the first call for a record counts.
  void finish(std::uint64_t seq, Outcome outcome);

  std::vector<RequestRecord> snapshot() const;
  void clear();
  // Waits until `predicate` holds for the records or `timeout` passes; gives
  // the predicate's last value. The predicate runs with the journal locked.
  bool waitFor(const Predicate& predicate, std::chrono::milliseconds timeout) const;

 private:
  RequestRecord* find(std::uint64_t seq);

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<RequestRecord> records_;
  std::uint64_t nextSeq_ = 1;
  std::ofstream file_;
};

}  // namespace refservice
