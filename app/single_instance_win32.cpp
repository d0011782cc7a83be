#include "app/single_instance_win32.h"

namespace app {
namespace {

// "Local\": the namespace of the user's session, so that installers of other users signed in on
// the same machine do not count.
constexpr char kLockName[] = "Local\\Setup.Installer.7C4E1B92-3A5D-4F08-9E61-2D8B0A4C5F13";
// A window property, readable by other processes of the session, that names the form.
constexpr char kFormProperty[] = "Setup.Installer.Form.7C4E1B92";
constexpr int kFormPatienceMs = 5'000;
constexpr int kFormPollMs = 50;

BOOL CALLBACK FindMarkedForm(HWND window, LPARAM found) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == GetCurrentProcessId() || !GetPropA(window, kFormProperty)) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

HWND RunningInstallerForm() {
  HWND form = nullptr;
  EnumWindows(&FindMarkedForm, reinterpret_cast<LPARAM>(&form));
  return form;
}

}  // namespace

bool AcquireInstallerLock() {
  // Never closed: the lock is held until the process ends.
  HANDLE lock = CreateMutexA(nullptr, FALSE, kLockName);
  return lock == nullptr || GetLastError() != ERROR_ALREADY_EXISTS;
}

void MarkInstallerForm(HWND form) { SetPropA(form, kFormProperty, reinterpret_cast<HANDLE>(1)); }

void BringRunningInstallerToFront() {
  // Started twice in quick succession, the first may not have made its window yet.
  for (int waited = 0; waited <= kFormPatienceMs; waited += kFormPollMs) {
    if (HWND form = RunningInstallerForm()) {
      SetForegroundWindow(GetLastActivePopup(form));
      return;
    }
    Sleep(kFormPollMs);
  }
}

}  // namespace app
