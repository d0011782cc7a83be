#include "host/thread.h"

#include <chrono>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

namespace host {
namespace {

void* RunBody(void* parameter) {
  const std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(parameter));
  (*body)();
  return nullptr;
}

}  // namespace

bool StartDetachedThread(std::function<void()> body) {
  try {
    std::thread(std::move(body)).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

void SleepMilliseconds(unsigned milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

JoinableThread::~JoinableThread() { Join(); }

JoinableThread::JoinableThread(JoinableThread&& other) noexcept
    : native_(other.native_), started_(std::exchange(other.started_, false)) {}

JoinableThread& JoinableThread::operator=(JoinableThread&& other) noexcept {
  if (this != &other) {
    Join();
    native_ = other.native_;
    started_ = std::exchange(other.started_, false);
  }
  return *this;
}

bool JoinableThread::Start(std::function<void()> body) {
  auto* handed = new (std::nothrow) std::function<void()>(std::move(body));
  if (!handed) return false;
  started_ = pthread_create(&native_, nullptr, &RunBody, handed) == 0;
  if (!started_) delete handed;
  return started_;
}

void JoinableThread::Join() {
  if (!started_) return;
  pthread_join(native_, nullptr);
  started_ = false;
}

// Default attributes: a lock that is not recursive, and a condition variable on the real-time
// clock, which the waits here never consult (they have no time-out).
Mutex::Mutex() { pthread_mutex_init(&native_, nullptr); }
Mutex::~Mutex() { pthread_mutex_destroy(&native_); }
void Mutex::Lock() { pthread_mutex_lock(&native_); }
void Mutex::Unlock() { pthread_mutex_unlock(&native_); }

ConditionVariable::ConditionVariable() { pthread_cond_init(&native_, nullptr); }
ConditionVariable::~ConditionVariable() { pthread_cond_destroy(&native_); }
void ConditionVariable::WakeOne() { pthread_cond_signal(&native_); }
void ConditionVariable::WakeAll() { pthread_cond_broadcast(&native_); }
void ConditionVariable::Wait(Mutex& held) { pthread_cond_wait(&native_, &held.native_); }

}  // namespace host
