#include "host/win32.h"
#include "tools/setup-pack/output_file.h"
#include "tools/setup-pack/tool_error.h"

namespace setup_pack {

void ReplaceFileWith(const std::string& from, const std::string& to) {
  if (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    throw ToolError("cannot write \"" + to + "\": " + host::win32::ErrorText(GetLastError()));
  }
}

}  // namespace setup_pack
