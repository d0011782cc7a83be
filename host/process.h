// Starting a program and watching it.
#pragma once

#include <optional>
#include <string>

#include "host/native.h"

namespace host {

// A started process. The handle stays valid for the rest of the run (the program never needs to
// release it: a job ends the program soon after).
struct ProcessHandle {
  NativeProcess native;
};

// Starts a program through the shell (Windows: ShellExecuteExA, default verb, SW_SHOWNORMAL,
// SEE_MASK_NOCLOSEPROCESS, no working folder of its own; POSIX: posix_spawn with the path and, when
// not empty, the parameters as one argument). The program starts in the caller's current folder.
// None when the start fails; the platform shows its own message then.
std::optional<ProcessHandle> LaunchProgram(const std::string& path, const std::string& parameters);

// Waits at most 10 ms for the process to end: true when it still runs afterwards, false when it
// has ended, for none, or when the wait fails.
bool IsProcessRunning(const std::optional<ProcessHandle>& process);

}  // namespace host
