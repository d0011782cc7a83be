// The commands of setup-pack: name, usage, options, number of operands and help text.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/setup-pack/cli/command_line.h"

namespace setup_pack {

struct CommandSpec {
  Command command;
  const char* name;
  const char* usage;
  std::vector<std::string> options;
  size_t operand_count;
  const char* help;
};

// None when no command has that name.
const CommandSpec* FindCommand(const std::string& name);
const CommandSpec* FindCommand(Command command);

std::string OverviewHelp();

}  // namespace setup_pack
