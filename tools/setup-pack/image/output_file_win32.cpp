#include "host/win32.h"
#include "tools/setup-pack/cli/tool_error.h"
#include "tools/setup-pack/image/output_file.h"

namespace setup_pack {

void ReplaceFileWith(const std::string& from, const std::string& to) {
  if (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    throw ToolError("cannot write \"" + to + "\": " + host::win32::ErrorText(GetLastError()));
  }
}

}  // namespace setup_pack
