#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "tools/refservice/Scenario.h"

namespace refservice {

// The running service's scenario, its request counters and the waits that
// scenario changes or a stop must cut short. All members are thread-safe.
class ScenarioState {
 public:
  explicit ScenarioState(Scenario scenario = {});

  Scenario scenario() const;
  InstallerFaults faults() const;
  void set(Scenario scenario);
  void update(const std::function<void(Scenario&)>& change);

  // Counters of the installer requests, from 1.
  std::int64_t countInstallerRequest();
  std::int64_t countRangedRequest();
  // Whether a fault with this repeat fires now; a Once fault fires a single time.
  bool fireFailAtByte(Repeat repeat);
  bool fireDrop(Repeat repeat);
  bool fireStall(Repeat repeat);
  void resetCounters();

  // A new signature for a link to the installer `name`: "1", "2", ... in the
  // order they are handed out.
  std::string signLink(const std::string& name);
  enum class Signature { Valid, Missing, Unknown, Expired };
  // Whether `signature` was handed out for `name` less than the scenario's
  // current link lifetime ago, and not before a key rotation that has
  // happened (linksExpireAfter). Counts the request as a signed one.
  Signature checkSignature(const std::string& name, const std::string& signature);

  // Sleeps for `duration`; false when the service stops first.
  bool sleepFor(std::chrono::steady_clock::duration duration);
  // Waits while the scenario holds the body of bytes from `offset` of the file
  // that has `bytesSent` bytes out; false when the service stops first.
  bool waitWhileHeld(std::int64_t offset, std::int64_t bytesSent);

  // Installer bodies being sent now: one opens with its answer and closes
  // before its last byte goes out (so a client never sees its end while it
  // still counts) or when its connection ends. The most open at once since
  // the start or resetCounters().
  void openBody();
  void closeBody();
  std::int64_t peakOpenBodies() const;
  // Waits until the service stops.
  void waitForStop();
  // Ends every wait at once and makes the later ones return false.
  void stop();
  bool stopped() const;

 private:
  bool heldLocked(std::int64_t offset, std::int64_t bytesSent) const;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  Scenario scenario_;
  std::int64_t installerRequests_ = 0;
  std::int64_t rangedRequests_ = 0;
  std::int64_t openBodies_ = 0;
  std::int64_t peakOpenBodies_ = 0;
  bool failFired_ = false;
  bool dropFired_ = false;
  bool stallFired_ = false;
  std::int64_t signedRequests_ = 0;  // installer requests that carried a signature
  struct SignedLink {
    std::string name;
    std::chrono::steady_clock::time_point issued;
    std::int64_t signedRequestsBefore = 0;
  };
  std::map<std::string, SignedLink> signatures_;
  bool stopped_ = false;
};

}  // namespace refservice
