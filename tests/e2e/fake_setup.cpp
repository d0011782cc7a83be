// The "Setup.exe" that the end-to-end packages carry. Started by an installer job, it writes where
// it runs (current folder, own path) to the file named by SETUP_E2E_CHILD_REPORT, sets the event
// named by SETUP_E2E_CHILD_STARTED, and, when SETUP_E2E_CHILD_GATE names an event, stays until
// the driver sets it, so the driver can watch the installer wait for a running setup.
#include <string>

#include "host/win32.h"

namespace {

constexpr DWORD kGatePatienceMs = 300'000;

std::string Variable(const char* name) {
  char value[1024] = {};
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof(value));
  return length > 0 && length < sizeof(value) ? std::string(value, length) : std::string();
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char folder[MAX_PATH + 1] = {};
  GetCurrentDirectoryA(MAX_PATH, folder);
  char program[MAX_PATH + 1] = {};
  GetModuleFileNameA(nullptr, program, MAX_PATH);
  const std::string report = Variable("SETUP_E2E_CHILD_REPORT");
  if (!report.empty()) {
    const std::string text = std::string(folder) + "\n" + program + "\n";
    host::win32::UniqueHandle out(CreateFileA(report.c_str(), GENERIC_WRITE, 0, nullptr,
                                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (out.valid()) {
      WriteFile(out.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
  }
  const std::string started = Variable("SETUP_E2E_CHILD_STARTED");
  if (!started.empty()) {
    host::win32::UniqueHandle event(OpenEventA(EVENT_MODIFY_STATE, FALSE, started.c_str()));
    if (event.valid()) SetEvent(event.get());
  }
  const std::string gate = Variable("SETUP_E2E_CHILD_GATE");
  if (!gate.empty()) {
    host::win32::UniqueHandle event(OpenEventA(SYNCHRONIZE, FALSE, gate.c_str()));
    // Bounded, so that a driver that failed midway leaves no process behind for long.
    if (event.valid()) WaitForSingleObject(event.get(), kGatePatienceMs);
  }
  return 0;
}
