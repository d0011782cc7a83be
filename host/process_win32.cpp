#include "host/process.h"

#include "host/win32.h"

// After the door header: the lean Windows headers leave the shell API out.
#include <shellapi.h>

namespace host {
namespace {

constexpr DWORD kRunningWaitMilliseconds = 10;

}  // namespace

std::optional<ProcessHandle> LaunchProgram(const std::string& path, const std::string& parameters) {
  SHELLEXECUTEINFOA request{};
  request.cbSize = sizeof request;
  // No SEE_MASK_FLAG_NO_UI: when the program cannot be started the shell shows its own message.
  request.fMask = SEE_MASK_NOCLOSEPROCESS;
  // No owner window: the dialog is never handed to the shell as one.
  request.hwnd = nullptr;
  request.lpVerb = nullptr;
  request.lpFile = path.c_str();
  request.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
  request.lpDirectory = nullptr;
  request.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExA(&request) || request.hProcess == nullptr) return std::nullopt;
  return ProcessHandle{request.hProcess};
}

bool IsProcessRunning(const std::optional<ProcessHandle>& process) {
  if (!process || process->native == nullptr) return false;
  return WaitForSingleObject(process->native, kRunningWaitMilliseconds) == WAIT_TIMEOUT;
}

}  // namespace host
