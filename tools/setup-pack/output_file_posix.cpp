#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/setup-pack/output_file.h"
#include "tools/setup-pack/tool_error.h"

namespace setup_pack {

void ReplaceFileWith(const std::string& from, const std::string& to) {
  if (std::rename(from.c_str(), to.c_str()) != 0) {
    throw ToolError("cannot write \"" + to + "\": " + std::strerror(errno));
  }
}

}  // namespace setup_pack
