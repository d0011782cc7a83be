// The command line of setup-pack:
//
//   setup-pack create  [--key K] DIR ARCHIVE
//   setup-pack embed   [--key K] [--job library|application] [--caption TEXT] [--drop-signature]
//                      TEMPLATE ARCHIVE OUT
//   setup-pack build   [--key K] [--job library|application] [--caption TEXT] [--drop-signature]
//                      TEMPLATE DIR OUT
//   setup-pack list    FILE
//   setup-pack verify  [--key K] FILE
//   setup-pack extract [--key K] [--prefix P] FILE DEST
//   setup-pack help [COMMAND]      setup-pack --help      setup-pack COMMAND --help
//   setup-pack --version
//
// Options may stand anywhere after the command, as "--name value" or "--name=value" (a switch
// such as --drop-signature takes no value); "--" ends them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/settings_record.h"

namespace setup_pack {

enum class Command { kHelp, kVersion, kCreate, kEmbed, kBuild, kList, kVerify, kExtract };

struct CommandLine {
  Command command = Command::kHelp;
  std::optional<Command> help_topic;  // kHelp: the command asked about, none for all
  std::optional<uint32_t> key;
  std::optional<archive::JobKind> job;
  std::optional<std::string> caption;
  std::optional<std::string> prefix;
  std::vector<std::string> operands;
  bool drop_signature = false;
};

// `arguments` without the program name. Throws ToolError for an unknown command or option, a
// missing or repeated option value, a value given to a switch, a malformed key or job, or the
// wrong number of operands.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// A decimal or 0x-hexadecimal unsigned 32-bit number. Throws ToolError otherwise.
uint32_t ParseKey(const std::string& text);

// The help text of one command, or the overview of all.
std::string HelpText(const std::optional<Command>& topic);

}  // namespace setup_pack
