// One function per command. Each returns the exit status; bad input throws ToolError (status 2).
#pragma once

#include "tools/setup-pack/cli/command_line.h"

namespace setup_pack {

int RunCreate(const CommandLine& line);
int RunEmbed(const CommandLine& line);
int RunBuild(const CommandLine& line);
int RunList(const CommandLine& line);
int RunVerify(const CommandLine& line);
int RunExtract(const CommandLine& line);

}  // namespace setup_pack
