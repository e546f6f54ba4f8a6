#pragma once

#include <chrono>
#include <functional>

namespace ov::test {

// Runs the main thread's event loop (main-queue tasks, timers, queued calls)
// until `condition` holds or `timeout` has passed; answers the condition.
// Call it on the main thread.
bool runEventLoopUntil(const std::function<bool()>& condition,
                       std::chrono::milliseconds timeout = std::chrono::seconds(20));

// Runs the main thread's event loop for `duration`.
void runEventLoopFor(std::chrono::milliseconds duration);

}  // namespace ov::test
