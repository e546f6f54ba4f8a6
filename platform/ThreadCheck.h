#pragma once

#include "platform/Dispatch.h"

// Where a function must run, checked where it starts: a call on the wrong
// thread stops the program with a message naming the function's place, where
// the race would begin rather than where it shows. Active in every build but
// Release (tests and the sanitizer builds), compiled out in Release.
#if defined(OV_THREAD_CHECKS)
#define OV_EXPECT_THREAD(condition, where) ::ov::expectThread((condition), (where), __FILE__, __LINE__)
#else
#define OV_EXPECT_THREAD(condition, where) static_cast<void>(0)
#endif

// The Qt main thread: the window, the timers, pause, resume, cancel, completion.
#define OV_ON_MAIN_THREAD() OV_EXPECT_THREAD(::ov::isMainThread(), "the main thread")
// Anywhere but the main thread: whatever blocks until a service answers.
#define OV_OFF_MAIN_THREAD() OV_EXPECT_THREAD(!::ov::isMainThread(), "a thread other than the main one")
// A task of the dispatch queue with this label.
#define OV_ON_QUEUE(label) OV_EXPECT_THREAD(::ov::isOnQueue(label), "the queue \"" label "\"")

namespace ov {

// Writes "thread check failed: ..." to standard error and aborts when
// `condition` is false.
void expectThread(bool condition, const char* where, const char* file, int line);

}  // namespace ov
