#include "host/win32.h"
#include "tools/setup-pack/output_file.h"
#include "tools/setup-pack/tool_error.h"

namespace setup_pack {

unsigned long CurrentProcessId() { return GetCurrentProcessId(); }

void ReplaceFileWith(const std::string& from, const std::string& to) {
  if (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    throw ToolError("cannot write \"" + to + "\": " + host::win32::ErrorText(GetLastError()));
  }
}

// Windows images need no execute bit.
void CopyPermissions(const std::string&, const std::string&) {}

}  // namespace setup_pack
