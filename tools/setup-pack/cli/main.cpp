// setup-pack: makes installer packages, and lists, verifies and extracts them.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "host/host_error.h"
#include "host/installer_ui.h"
#include "host/mapped_file.h"
#include "tools/setup-pack/cli/command_line.h"
#include "tools/setup-pack/cli/console_ui.h"
#include "tools/setup-pack/cli/tool_error.h"
#include "tools/setup-pack/commands/commands.h"

namespace {

int Run(const setup_pack::CommandLine& line) {
  using setup_pack::Command;
  switch (line.command) {
    case Command::kHelp:
      std::cout << setup_pack::HelpText(line.help_topic);
      return setup_pack::kExitSuccess;
    case Command::kVersion:
      std::cout << "setup-pack " SETUP_PACK_VERSION "\n";
      return setup_pack::kExitSuccess;
    case Command::kCreate:
      return setup_pack::RunCreate(line);
    case Command::kEmbed:
      return setup_pack::RunEmbed(line);
    case Command::kBuild:
      return setup_pack::RunBuild(line);
    case Command::kList:
      return setup_pack::RunList(line);
    case Command::kVerify:
      return setup_pack::RunVerify(line);
    case Command::kExtract:
      return setup_pack::RunExtract(line);
  }
  return setup_pack::kExitError;
}

int Fail(const std::string& text) {
  std::cout.flush();
  std::cerr << "setup-pack: error: " << text << std::endl;
  return setup_pack::kExitError;
}

}  // namespace

int main(int argc, char** argv) {
  setup_pack::ConsoleUi console;
  host::InstallUi(&console);
  // A package is read through a view of its file; should another program cut the file short
  // meanwhile, this is said and the run ends, instead of a crash.
  host::MappedFile::OnCutShort(
      "setup-pack: error: an input file was cut short by another program while it was being "
      "read; stopped (what was written before stays)\n",
      setup_pack::kExitError);
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (arguments.empty()) {
    std::cerr << setup_pack::HelpText(std::nullopt);
    return setup_pack::kExitError;
  }
  try {
    return Run(setup_pack::ParseCommandLine(arguments));
  } catch (const setup_pack::ToolError& error) {
    return Fail(error.what());
  } catch (const host::HostError& error) {
    return Fail(error.what());
  } catch (const std::exception& error) {
    return Fail(error.what());
  }
}
