// Runs a program to its end with its standard output and error captured in files, for tests that
// drive setup-pack (and the test image) as a user would.
#pragma once

#include <string>
#include <vector>

namespace pack_testing {

struct ProgramResult {
  int exit_code = -1;    // the exit status; -1 when the program did not exit normally
  bool crashed = false;  // killed by a signal (POSIX) or ended by an exception (Windows)
  std::string out;
  std::string err;
};

// `capture_folder`: an existing folder (installer spelling) for the two capture files.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& capture_folder);

// A build-tree path as the test's platform sees it: under Wine, a POSIX path is reached through
// the drive Z:.
std::string ProgramPath(const std::string& build_path);

}  // namespace pack_testing
