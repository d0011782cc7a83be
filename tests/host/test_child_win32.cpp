#include "tests/host/test_child.h"

#include "host/win32.h"

namespace host_test {

// The parameter is the name of an event the test sets.
bool WaitForGate(const std::string& parameter) {
  const host::win32::UniqueHandle gate(OpenEventA(SYNCHRONIZE, FALSE, parameter.c_str()));
  return gate.valid() && WaitForSingleObject(gate.get(), INFINITE) == WAIT_OBJECT_0;
}

}  // namespace host_test
