#include "host/thread.h"

#include "host/win32.h"

#include <memory>
#include <new>
#include <utility>

namespace host {
namespace {

static_assert(sizeof(SRWLOCK) == sizeof(NativeMutex) && alignof(SRWLOCK) <= alignof(NativeMutex));
static_assert(sizeof(CONDITION_VARIABLE) == sizeof(NativeCondition) &&
              alignof(CONDITION_VARIABLE) <= alignof(NativeCondition));

DWORD WINAPI RunBody(void* parameter) {
  const std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(parameter));
  (*body)();
  return 0;
}

// CreateThread rather than _beginthreadex: the C runtime here is the system's msvcrt.dll, which
// sets up and frees its per-thread data itself when a thread starts and ends. Null when no thread
// can be started.
HANDLE StartThread(std::function<void()> body) {
  auto* handed = new (std::nothrow) std::function<void()>(std::move(body));
  if (!handed) return nullptr;
  HANDLE thread = CreateThread(nullptr, 0, &RunBody, handed, 0, nullptr);
  if (!thread) delete handed;
  return thread;
}

PSRWLOCK LockOf(NativeMutex& native) { return reinterpret_cast<PSRWLOCK>(&native); }
PCONDITION_VARIABLE ConditionOf(NativeCondition& native) {
  return reinterpret_cast<PCONDITION_VARIABLE>(&native);
}

}  // namespace

bool StartDetachedThread(std::function<void()> body) {
  HANDLE thread = StartThread(std::move(body));
  if (!thread) return false;
  CloseHandle(thread);
  return true;
}

void SleepMilliseconds(unsigned milliseconds) { Sleep(milliseconds); }

JoinableThread::~JoinableThread() { Join(); }

JoinableThread::JoinableThread(JoinableThread&& other) noexcept
    : native_(std::exchange(other.native_, nullptr)),
      started_(std::exchange(other.started_, false)) {}

JoinableThread& JoinableThread::operator=(JoinableThread&& other) noexcept {
  if (this != &other) {
    Join();
    native_ = std::exchange(other.native_, nullptr);
    started_ = std::exchange(other.started_, false);
  }
  return *this;
}

bool JoinableThread::Start(std::function<void()> body) {
  native_ = StartThread(std::move(body));
  started_ = native_ != nullptr;
  return started_;
}

void JoinableThread::Join() {
  if (!started_) return;
  WaitForSingleObject(native_, INFINITE);
  CloseHandle(native_);
  native_ = nullptr;
  started_ = false;
}

// Slim reader/writer locks and condition variables need no freeing.
Mutex::Mutex() { InitializeSRWLock(LockOf(native_)); }
Mutex::~Mutex() = default;
void Mutex::Lock() { AcquireSRWLockExclusive(LockOf(native_)); }
void Mutex::Unlock() { ReleaseSRWLockExclusive(LockOf(native_)); }

ConditionVariable::ConditionVariable() { InitializeConditionVariable(ConditionOf(native_)); }
ConditionVariable::~ConditionVariable() = default;
void ConditionVariable::WakeOne() { WakeConditionVariable(ConditionOf(native_)); }
void ConditionVariable::WakeAll() { WakeAllConditionVariable(ConditionOf(native_)); }
void ConditionVariable::Wait(Mutex& held) {
  SleepConditionVariableSRW(ConditionOf(native_), LockOf(held.native_), INFINITE, 0);
}

}  // namespace host
