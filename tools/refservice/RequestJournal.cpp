#include "tools/refservice/RequestJournal.h"

#include <stdexcept>

namespace refservice {

void RequestJournal::recordTo(const std::string& jsonLinesFile) {
  std::lock_guard lock(mutex_);
  file_.open(jsonLinesFile, std::ios::binary | std::ios::trunc);
  if (!file_) throw std::runtime_error("cannot write request record file " + jsonLinesFile);
}

std::uint64_t RequestJournal::begin(RequestRecord record) {
  std::lock_guard lock(mutex_);
  record.seq = nextSeq_++;
  records_.push_back(std::move(record));
  changed_.notify_all();
  return records_.back().seq;
}

RequestRecord* RequestJournal::find(std::uint64_t seq) {
  if (records_.empty() || seq < records_.front().seq) return nullptr;
  const auto index = seq - records_.front().seq;
  return index < records_.size() ? &records_[index] : nullptr;
}

void RequestJournal::update(std::uint64_t seq, const std::function<void(RequestRecord&)>& change) {
  std::lock_guard lock(mutex_);
  if (auto* record = find(seq)) {
    change(*record);
    changed_.notify_all();
  }
}

void RequestJournal::finish(std::uint64_t seq, Outcome outcome) {
  std::lock_guard lock(mutex_);
  auto* record = find(seq);
  if (record == nullptr || record->outcome != Outcome::Pending) return;
  record->outcome = outcome;
  record->held = false;
  if (file_.is_open()) {
    // One write and a flush per line, so a reader following the file never sees half a record.
    file_ << toJsonLine(*record) + '\n';
    file_.flush();
  }
  changed_.notify_all();
}

std::vector<RequestRecord> RequestJournal::snapshot() const {
  std::lock_guard lock(mutex_);
  return records_;
}

void RequestJournal::clear() {
  std::lock_guard lock(mutex_);
  records_.clear();
  changed_.notify_all();
}

bool RequestJournal::waitFor(const Predicate& predicate, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return predicate(records_); });
}

}  // namespace refservice
