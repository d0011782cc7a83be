#include "host/thread.h"

#include "host/win32.h"

#include <memory>
#include <new>
#include <utility>

namespace host {
namespace {

DWORD WINAPI RunBody(void* parameter) {
  const std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(parameter));
  (*body)();
  return 0;
}

}  // namespace

// CreateThread rather than _beginthreadex: the C runtime here is the system's msvcrt.dll, which
// sets up and frees its per-thread data itself when a thread starts and ends.
bool StartDetachedThread(std::function<void()> body) {
  auto* handed = new (std::nothrow) std::function<void()>(std::move(body));
  if (!handed) return false;
  HANDLE thread = CreateThread(nullptr, 0, &RunBody, handed, 0, nullptr);
  if (!thread) {
    delete handed;
    return false;
  }
  CloseHandle(thread);
  return true;
}

void SleepMilliseconds(unsigned milliseconds) { Sleep(milliseconds); }

}  // namespace host
