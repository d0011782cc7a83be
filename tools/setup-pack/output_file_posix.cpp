#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/setup-pack/output_file.h"
#include "tools/setup-pack/tool_error.h"

namespace setup_pack {

unsigned long CurrentProcessId() { return static_cast<unsigned long>(getpid()); }

void ReplaceFileWith(const std::string& from, const std::string& to) {
  if (std::rename(from.c_str(), to.c_str()) != 0) {
    throw ToolError("cannot write \"" + to + "\": " + std::strerror(errno));
  }
}

void CopyPermissions(const std::string& from, const std::string& to) {
  struct stat status {};
  if (stat(from.c_str(), &status) == 0) chmod(to.c_str(), status.st_mode & 07777);
}

}  // namespace setup_pack
