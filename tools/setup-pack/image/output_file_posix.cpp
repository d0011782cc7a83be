#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/setup-pack/cli/tool_error.h"
#include "tools/setup-pack/image/output_file.h"

namespace setup_pack {

void ReplaceFileWith(const std::string& from, const std::string& to) {
  if (std::rename(from.c_str(), to.c_str()) != 0) {
    throw ToolError("cannot write \"" + to + "\": " + std::strerror(errno));
  }
}

}  // namespace setup_pack
