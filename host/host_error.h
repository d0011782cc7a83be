// The one error type of the platform layer. Its text is the platform's own description of the
// failure, prefixed with what was being done ("Cannot create file "C:\x\a.dcu". Access is denied.").
// Module boundaries catch it and turn it into their boolean results; the archive reader shows the
// text to the user.
#pragma once

#include <stdexcept>
#include <string>

namespace host {

class HostError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace host
