#include "host/win32.h"

namespace host::win32 {

std::string ErrorText(unsigned long error_code) {
  char buffer[512] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                error_code, 0, buffer, sizeof buffer, nullptr);
  // System messages end in a line break (and sometimes a space before it).
  while (length > 0 &&
         (buffer[length - 1] == '\r' || buffer[length - 1] == '\n' || buffer[length - 1] == ' ')) {
    --length;
  }
  if (length == 0) return "Error " + std::to_string(error_code) + ".";
  return std::string(buffer, length);
}

namespace {

bool AskNtdllForWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Asked once, before the program's first statement: a first use from two threads then needs no
// guard.
const bool g_running_under_wine = AskNtdllForWine();

}  // namespace

bool RunningUnderWine() { return g_running_under_wine; }

}  // namespace host::win32
