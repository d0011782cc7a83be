// How setup-pack ends: 0 when it did what was asked, 1 when verify found problems, 2 for bad
// arguments or bad input (nothing was changed then).
#pragma once

#include <stdexcept>
#include <string>

namespace setup_pack {

constexpr int kExitSuccess = 0;
constexpr int kExitFindings = 1;
constexpr int kExitError = 2;

// Bad arguments or bad input: main prints the text after "setup-pack: error: " and exits with 2.
class ToolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace setup_pack
