// The one error type of the platform layer. Its text is the platform's own description of the
// failure, prefixed with what was being done ("Cannot create file "C:\x\a.dcu". Access is denied.").
// Module boundaries catch it and turn it into their boolean results; the archive reader shows the
// text to the user.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace host {

// The text is a string of its own rather than a std::runtime_error's: that class keeps its text
// in the standard library's older, reference-counted string, whose code would otherwise come
// into the installer program for this alone.
class HostError : public std::exception {
 public:
  explicit HostError(std::string text) : text_(std::move(text)) {}
  const char* what() const noexcept override { return text_.c_str(); }

 private:
  std::string text_;
};

}  // namespace host
