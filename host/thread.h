// Threads of their own for a job and for its file writers, the lock and the wake-up they share,
// and pauses. Windows: CreateThread, slim reader/writer locks, condition variables and Sleep,
// which the system gives for nothing (the installer leaves the C++ thread library out); POSIX:
// POSIX threads (the standard library's for the detached thread and pauses).
#pragma once

#include <functional>

#include "host/native.h"

namespace host {

// Runs `body` on a new thread that nobody joins; the thread ends when `body` returns (nothing may
// leave `body`). False when no thread can be started: `body` is then not run.
bool StartDetachedThread(std::function<void()> body);

// Pauses the calling thread.
void SleepMilliseconds(unsigned milliseconds);

// A thread that its owner waits for: Join, or the destructor, returns once `body` has returned.
class JoinableThread {
 public:
  JoinableThread() = default;
  ~JoinableThread();
  JoinableThread(JoinableThread&& other) noexcept;
  JoinableThread& operator=(JoinableThread&& other) noexcept;
  JoinableThread(const JoinableThread&) = delete;
  JoinableThread& operator=(const JoinableThread&) = delete;

  // Runs `body` on a new thread (nothing may leave `body`). False when no thread can be started:
  // `body` is then not run. Only on a thread not started yet or joined.
  bool Start(std::function<void()> body);
  // Waits until the thread has ended; nothing to do when it was never started.
  void Join();

 private:
  NativeThread native_{};
  bool started_ = false;
};

// A lock that is not recursive, for data several threads share. Neither copied nor moved.
class Mutex {
 public:
  Mutex();
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void Lock();
  void Unlock();

 private:
  friend class ConditionVariable;
  NativeMutex native_;
};

// Holds a Mutex for as long as it lives.
class ScopedLock {
 public:
  explicit ScopedLock(Mutex& mutex) : mutex_(mutex) { mutex_.Lock(); }
  ~ScopedLock() { mutex_.Unlock(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;
  Mutex& mutex() const { return mutex_; }

 private:
  Mutex& mutex_;
};

// Wakes threads waiting for a change of data that a Mutex guards. Neither copied nor moved.
class ConditionVariable {
 public:
  ConditionVariable();
  ~ConditionVariable();
  ConditionVariable(const ConditionVariable&) = delete;
  ConditionVariable& operator=(const ConditionVariable&) = delete;

  // Waits until `done()` holds, checking it with the lock held and letting the lock go while it
  // sleeps. A wake-up may come without a change: `done` is checked again each time.
  template <typename Done>
  void WaitUntil(ScopedLock& held, Done done) {
    while (!done()) Wait(held.mutex());
  }
  void WakeOne();
  void WakeAll();

 private:
  void Wait(Mutex& held);
  NativeCondition native_;
};

}  // namespace host
