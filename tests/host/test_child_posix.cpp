#include "tests/host/test_child.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace host_test {

// The parameter is the number of an inherited pipe's read end; the gate opens when every write
// end is closed and the read sees the end of the pipe.
bool WaitForGate(const std::string& parameter) {
  char* end = nullptr;
  const long fd = std::strtol(parameter.c_str(), &end, 10);
  if (parameter.empty() || *end != '\0' || fd < 0) return false;
  char byte = 0;
  for (;;) {
    const ssize_t got = ::read(static_cast<int>(fd), &byte, 1);
    if (got == 0) return true;
    if (got < 0 && errno != EINTR) return false;
  }
}

}  // namespace host_test
