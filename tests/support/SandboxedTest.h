#pragma once

// The first layers of the fixture chain every suite builds on:
//   SandboxedTest  a fresh home folder
//   ToolkitTest    + the scripted toolkit and both log channels recorded
//   ServiceTest    + the reference service and a fresh manager (tests/support/ServiceTest.h)

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

#include "platform/Dispatch.h"
#include "tests/support/EventLoop.h"
#include "tests/support/Files.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"
#include "tests/support/ScriptedToolkit.h"

namespace ov::test {

using namespace std::chrono_literals;

// Each layer's parts live as long as the test's fixture, and go in reverse:
// the toolkit and the log before the sandbox.
class SandboxedTest : public ::testing::Test {
 protected:
  // Runs the main loop until `condition` holds; false when `limit` passed first.
  static bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 20s) {
    return runEventLoopUntil(condition, limit);
  }
  // Runs the main loop for `duration`: only for showing that something does
  // not happen, once everything that would come before it has been awaited.
  static void settle(std::chrono::milliseconds duration = 300ms) { runEventLoopFor(duration); }
  // Runs the main loop until every task posted to the main queue before the call has run.
  static void drainMainQueue() {
    auto drained = std::make_shared<std::atomic<bool>>(false);
    mainQueue().async([drained] { *drained = true; });
    ASSERT_TRUE(waitFor([&] { return drained->load(); }));
  }

  std::unique_ptr<Sandbox> sandbox_ = std::make_unique<Sandbox>();
};

class ToolkitTest : public SandboxedTest {
 protected:
  // How often `line` was written to standard output.
  int outputCount(const QString& line) const { return static_cast<int>(log_->outputLines().count(line)); }
  bool systemHas(const QString& line) const { return log_->systemLines().contains(line); }

  std::unique_ptr<ScriptedToolkit> toolkit_ = std::make_unique<ScriptedToolkit>();
  std::unique_ptr<LogCapture> log_ = std::make_unique<LogCapture>();
};

}  // namespace ov::test
