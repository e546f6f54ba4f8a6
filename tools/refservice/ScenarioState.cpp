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

void ScenarioState::resetCounters() {
  std::lock_guard lock(mutex_);
  installerRequests_ = 0;
  rangedRequests_ = 0;
  peakOpenBodies_ = openBodies_;
  failFired_ = false;
  dropFired_ = false;
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
