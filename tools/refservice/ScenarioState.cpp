#include "tools/refservice/ScenarioState.h"

#include <algorithm>

namespace refservice {

ScenarioState::ScenarioState(Scenario scenario) : scenario_(std::move(scenario)) {}

Scenario ScenarioState::scenario() const {
  std::lock_guard lock(mutex_);
  return scenario_;
}

InstallerFaults ScenarioState::faults() const {
  std::lock_guard lock(mutex_);
  return scenario_.installer;
}

void ScenarioState::set(Scenario scenario) {
  update([&](Scenario& s) { s = std::move(scenario); });
}

void ScenarioState::update(const std::function<void(Scenario&)>& change) {
  std::lock_guard lock(mutex_);
  change(scenario_);
  changed_.notify_all();
}

std::int64_t ScenarioState::countInstallerRequest() {
  std::lock_guard lock(mutex_);
  return ++installerRequests_;
}

std::int64_t ScenarioState::countRangedRequest() {
  std::lock_guard lock(mutex_);
  return ++rangedRequests_;
}

bool ScenarioState::fireFailAtByte(Repeat repeat) {
  std::lock_guard lock(mutex_);
  if (repeat == Repeat::Once && failFired_) return false;
  failFired_ = true;
  return true;
}

bool ScenarioState::fireDrop(Repeat repeat) {
  std::lock_guard lock(mutex_);
  if (repeat == Repeat::Once && dropFired_) return false;
  dropFired_ = true;
  return true;
}

bool ScenarioState::fireStall(Repeat repeat) {
  std::lock_guard lock(mutex_);
  if (repeat == Repeat::Once && stallFired_) return false;
  stallFired_ = true;
  return true;
}

void ScenarioState::resetCounters() {
  std::lock_guard lock(mutex_);
  installerRequests_ = 0;
  rangedRequests_ = 0;
  signedRequests_ = 0;
  peakOpenBodies_ = openBodies_;
  failFired_ = false;
  dropFired_ = false;
  stallFired_ = false;
}

std::string ScenarioState::signLink(const std::string& name) {
  std::lock_guard lock(mutex_);
  auto signature = std::to_string(signatures_.size() + 1);
  signatures_[signature] = {name, std::chrono::steady_clock::now(), signedRequests_};
  return signature;
}

ScenarioState::Signature ScenarioState::checkSignature(const std::string& name,
                                                       const std::string& signature) {
  if (signature.empty()) return Signature::Missing;
  std::lock_guard lock(mutex_);
  const std::int64_t request = ++signedRequests_;
  const auto found = signatures_.find(signature);
  if (found == signatures_.end() || found->second.name != name) return Signature::Unknown;
  const auto rotation = scenario_.linksExpireAfter;
  if (rotation && request > *rotation && found->second.signedRequestsBefore < *rotation)
    return Signature::Expired;
  const auto age = std::chrono::steady_clock::now() - found->second.issued;
  return age < scenario_.linkLifetime ? Signature::Valid : Signature::Expired;
}

bool ScenarioState::sleepFor(std::chrono::steady_clock::duration duration) {
  std::unique_lock lock(mutex_);
  const auto until = std::chrono::steady_clock::now() + duration;
  return !changed_.wait_until(lock, until, [&] { return stopped_; });
}

bool ScenarioState::heldLocked(std::int64_t offset, std::int64_t bytesSent) const {
  return scenario_.installer.holds(offset) && bytesSent >= scenario_.installer.holdAfterBytes;
}

bool ScenarioState::waitWhileHeld(std::int64_t offset, std::int64_t bytesSent) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return stopped_ || !heldLocked(offset, bytesSent); });
  return !stopped_;
}

void ScenarioState::waitForStop() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return stopped_; });
}

void ScenarioState::openBody() {
  std::lock_guard lock(mutex_);
  peakOpenBodies_ = std::max(peakOpenBodies_, ++openBodies_);
}

void ScenarioState::closeBody() {
  std::lock_guard lock(mutex_);
  --openBodies_;
}

std::int64_t ScenarioState::peakOpenBodies() const {
  std::lock_guard lock(mutex_);
  return peakOpenBodies_;
}

void ScenarioState::stop() {
  std::lock_guard lock(mutex_);
  stopped_ = true;
  changed_.notify_all();
}

bool ScenarioState::stopped() const {
  std::lock_guard lock(mutex_);
  return stopped_;
}

}  // namespace refservice
