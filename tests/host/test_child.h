// The child program that the process tests start: it blocks on the gate named by its one
// parameter (see ChildGate), then leaves a file in its current folder and ends.
#pragma once

#include <string>

namespace host_test {

// Blocks until the test opens the gate. False when the parameter names no gate.
bool WaitForGate(const std::string& parameter);

// The file the child leaves in its current folder once released.
inline constexpr char kChildMarkerFile[] = "child-released.txt";
inline constexpr char kChildMarkerText[] = "released";

}  // namespace host_test
