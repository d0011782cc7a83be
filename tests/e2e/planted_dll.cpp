// A DLL planted next to an installer under the name of a DLL that a program may load by name.
// Once loaded it leaves a mark: a file named as the DLL itself plus ".loaded".
#include "host/win32.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved);

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char path[MAX_PATH + 16] = {};
  const DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  lstrcpyA(path + length, ".loaded");
  HANDLE mark = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (mark != INVALID_HANDLE_VALUE) CloseHandle(mark);
  return TRUE;
}
