#include "tools/refservice/BodyStream.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace refservice {
namespace {

constexpr std::int64_t kSliceBytes = 64 * 1024;
// Slices under a rate limit are about this long, so pacing stays smooth at low rates.
constexpr std::int64_t kSlicesPerSecond = 20;

}  // namespace

BodyStream::BodyStream(RequestJournal& journal, std::uint64_t seq, ScenarioState& state, Source source,
                       Pacing pacing)
    : journal_(journal), seq_(seq), state_(state), source_(std::move(source)), pacing_(pacing) {
  // Installer bodies are the paced ones.
  if (pacing_.paced) {
    state_.openBody();
    open_ = true;
  }
}

void BodyStream::close() {
  if (open_) state_.closeBody();
  open_ = false;
}

std::int64_t BodyStream::rate(const InstallerFaults& faults) const {
  if (pacing_.bytesPerSecond > 0) return pacing_.bytesPerSecond;
  return pacing_.paced ? faults.rateLimit : 0;
}

std::size_t BodyStream::nextSliceSize(const InstallerFaults& faults) const {
  std::int64_t size = std::min(kSliceBytes, source_.length - sent_);
  if (pacing_.dropAfter) size = std::min(size, *pacing_.dropAfter - sent_);
  if (pacing_.stallAfter) size = std::min(size, *pacing_.stallAfter - sent_);
  if (pacing_.paced && faults.holds(source_.offset) && sent_ < faults.holdAfterBytes)
    size = std::min(size, faults.holdAfterBytes - sent_);
  if (rate(faults) > 0) size = std::min(size, std::max<std::int64_t>(1, rate(faults) / kSlicesPerSecond));
  return static_cast<std::size_t>(size);
}

bool BodyStream::readSlice(std::size_t size) {
  buffer_.resize(size);
  if (!source_.file) {
    std::memcpy(buffer_.data(), source_.text.data() + sent_, size);
    return true;
  }
  std::size_t done = 0;
  while (done < size) {
    const auto n = ::pread(source_.file->fd(), buffer_.data() + done, size - done,
                           static_cast<off_t>(source_.offset + sent_ + static_cast<std::int64_t>(done)));
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool BodyStream::fail(const std::string& fault) {
  close();
  if (!fault.empty()) journal_.update(seq_, [&](RequestRecord& r) { r.addFault(fault); });
  journal_.finish(seq_, Outcome::Aborted);
  return false;
}

bool BodyStream::provide(httplib::DataSink& sink) {
  if (pacing_.dropAfter && sent_ >= *pacing_.dropAfter)
    return fail("connection dropped after " + std::to_string(sent_) + " body bytes");
  if (pacing_.stallAfter && sent_ >= *pacing_.stallAfter) {
    journal_.update(seq_, [&](RequestRecord& r) {
      r.addFault("connection silent after " + std::to_string(sent_) + " body bytes");
    });
    // Open and silent, as a connection is after a network change; only the
    // service's stop ends it (a client that gave up is noticed then).
    state_.waitForStop();
    return fail();
  }
  auto faults = pacing_.paced ? state_.faults() : InstallerFaults{};
  if (pacing_.paced && faults.holds(source_.offset) && sent_ >= faults.holdAfterBytes) {
    journal_.update(seq_, [](RequestRecord& r) { r.held = true; });
    const bool released = state_.waitWhileHeld(source_.offset, sent_);
    journal_.update(seq_, [](RequestRecord& r) { r.held = false; });
    if (!released) return fail();
    faults = state_.faults();
    if (faults.dropOnRelease) return fail("connection dropped when released");
    paceStart_.reset();
  }
  const auto size = nextSliceSize(faults);
  const auto bytesPerSecond = rate(faults);
  const auto now = std::chrono::steady_clock::now();
  if (!paceStart_ || bytesPerSecond != paceRate_) {
    paceStart_ = now;
    paceFrom_ = sent_;
    paceRate_ = bytesPerSecond;
  }
  if (bytesPerSecond > 0) {
    // The slice may leave once the bytes since the pace start, this slice included, fit the rate.
    const auto bytes = sent_ + static_cast<std::int64_t>(size) - paceFrom_;
    const auto due = *paceStart_ + std::chrono::microseconds(bytes * 1'000'000 / bytesPerSecond);
    if (due > now && !state_.sleepFor(due - now)) return fail();
  }
  if (state_.stopped() || !readSlice(size)) return fail();
  if (sent_ + static_cast<std::int64_t>(size) == source_.length) close();
  if (!sink.write(buffer_.data(), size)) return fail();
  sent_ += static_cast<std::int64_t>(size);
  journal_.update(seq_, [&](RequestRecord& r) { r.bytesSent = sent_; });
  if (sent_ == source_.length) {
    journal_.finish(seq_, Outcome::Complete);
    sink.done();
    // Failing after the last byte is how the HTTP layer is told to close the connection.
    return !pacing_.closeAfter;
  }
  return true;
}

void BodyStream::released() {
  close();
  journal_.finish(seq_, Outcome::Aborted);
}

}  // namespace refservice
