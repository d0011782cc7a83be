// A thread of its own for a job, and pauses. Windows: CreateThread and Sleep, which the system
// gives for nothing; POSIX: the standard library's thread.
#pragma once

#include <functional>

namespace host {

// Runs `body` on a new thread that nobody joins; the thread ends when `body` returns (nothing may
// leave `body`). False when no thread can be started: `body` is then not run.
bool StartDetachedThread(std::function<void()> body);

// Pauses the calling thread.
void SleepMilliseconds(unsigned milliseconds);

}  // namespace host
