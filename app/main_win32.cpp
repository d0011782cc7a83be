// Start-up and end of Setup.exe.
#include "host/win32.h"

#include <commctrl.h>

#include "app/installer_form_win32.h"
#include "app/installer_integrity_win32.h"
#include "app/package_data.h"
#include "app/single_instance_win32.h"

namespace {

// Not declared by headers that target Windows 7; present from Windows 8 and with KB2533623.
constexpr DWORD kLoadLibrarySearchSystem32 = 0x00000800;

// DLLs that the program loads later (the shell's, the common controls') come from the system
// folder only, never from the folder a downloaded installer was started from.
void RestrictDllSearch() {
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (!kernel) return;
  const FARPROC address = GetProcAddress(kernel, "SetDefaultDllDirectories");
  if (!address) return;
  reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void (*)()>(address))(
      kLoadLibrarySearchSystem32);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  RestrictDllSearch();
  // Before anything else, and before the disk is touched.
  if (!app::InstallerIsIntact()) {
    app::ReportDamagedInstaller();
    ExitProcess(1);
  }
  if (!app::AcquireInstallerLock()) {
    app::BringRunningInstallerToFront();
    ExitProcess(0);
  }
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  // Never destroyed: a job thread may still use the window's UI when the program ends.
  auto* form = new app::TInstallerForm(app::InstallerPackage, app::InstallerSettings);
  const bool created = form->Create(instance);
  if (created) form->RunMessageLoop();
  // ExitProcess stops a running job thread first and runs no static destructors under it;
  // returning from WinMain would.
  ExitProcess(created ? 0 : 1);
}
