// The application title that the installer's message boxes carry.
#pragma once

#include <string>

namespace app {

// The program file's name (after the last backslash or slash) up to its first dot, the first
// character unchanged and every later letter A to Z in lower case: "C:\x\SETUP.EXE" -> "Setup",
// "my.installer.exe" -> "My".
std::string ApplicationTitle(const std::string& program_path);

}  // namespace app
