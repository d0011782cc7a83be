#include "host/thread.h"

#include <chrono>
#include <system_error>
#include <thread>
#include <utility>

namespace host {

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
    : native_(std::move(other.native_)) {}

JoinableThread& JoinableThread::operator=(JoinableThread&& other) noexcept {
  if (this != &other) {
    Join();
    native_ = std::move(other.native_);
  }
  return *this;
}

bool JoinableThread::Start(std::function<void()> body) {
  try {
    native_ = std::thread(std::move(body));
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

void JoinableThread::Join() {
  if (native_.joinable()) native_.join();
}

Mutex::Mutex() = default;
Mutex::~Mutex() = default;
void Mutex::Lock() { native_.lock(); }
void Mutex::Unlock() { native_.unlock(); }

ConditionVariable::ConditionVariable() = default;
ConditionVariable::~ConditionVariable() = default;
void ConditionVariable::WakeOne() { native_.notify_one(); }
void ConditionVariable::WakeAll() { native_.notify_all(); }
void ConditionVariable::Wait(Mutex& held) {
  // The caller holds the lock and keeps holding it: the wait only lends it out.
  std::unique_lock<std::mutex> lock(held.native_, std::adopt_lock);
  native_.wait(lock);
  lock.release();
}

}  // namespace host
