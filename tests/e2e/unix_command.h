// The Unix side of Wine, reached from a Windows test program: what a Windows program cannot do
// under Wine (make a symbolic link, take a folder's write permission away, sign an image with a
// Linux tool) is done by a shell script started on the host system.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "tests/e2e/driver_support.h"

namespace e2e {

// The host path of a Windows path, by Wine's own mapping; empty when not running under Wine or
// the path has no host counterpart.
std::string UnixPath(const std::string& windows_path);

// Quotes `text` for a POSIX shell (single quotes).
std::string ShellQuote(const std::string& text);

// Runs `script` with the host's /bin/sh and returns its exit status, or none when it could not
// be started or did not end within `patience`. Its output goes to the test program's own.
//
// Wine starts a host program from CreateProcess, but the handle it returns does not follow that
// program (it reports an end at once), so the end is awaited through a status file that the
// shell writes last and renames into place.
std::optional<int> RunUnixShell(const std::string& script,
                                std::chrono::milliseconds patience = kPatience);

}  // namespace e2e
