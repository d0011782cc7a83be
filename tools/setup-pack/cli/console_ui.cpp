#include "tools/setup-pack/cli/console_ui.h"

#include <iostream>


namespace setup_pack {

void ConsoleUi::ShowUserMessage(const std::string& text) {
  std::string line = text;
  for (char& c : line) {
    if (c == '\r') c = '\n';
  }
  std::cerr << "setup-pack: " << line << std::endl;
}

void ConsoleUi::SetStatusText(const std::string&) {}

void ConsoleUi::SetBusyCursor(bool) {}

void ConsoleUi::EndProgram() {}

}  // namespace setup_pack
