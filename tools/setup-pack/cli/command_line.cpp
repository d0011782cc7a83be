#include "tools/setup-pack/cli/command_line.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <utility>

#include "tools/setup-pack/cli/command_table.h"
#include "tools/setup-pack/cli/tool_error.h"

namespace setup_pack {
namespace {

// The one option that takes no value.
const char kDropSignature[] = "--drop-signature";

bool Allows(const CommandSpec& spec, const std::string& option) {
  return std::find(spec.options.begin(), spec.options.end(), option) != spec.options.end();
}

archive::JobKind ParseJob(const std::string& text) {
  if (text == "library") return archive::JobKind::kLibraryPackage;
  if (text == "application") return archive::JobKind::kApplicationSetup;
  throw ToolError("--job takes \"library\" or \"application\", not \"" + text + "\"");
}

template <typename T>
void SetOnce(std::optional<T>& field, T value, const std::string& option) {
  if (field) throw ToolError(option + " is given twice");
  field = std::move(value);
}

void ApplyOption(CommandLine& line, const std::string& option, const std::string& value) {
  if (option == "--key") SetOnce(line.key, ParseKey(value), option);
  if (option == "--job") SetOnce(line.job, ParseJob(value), option);
  if (option == "--caption") SetOnce(line.caption, value, option);
  if (option == "--prefix") SetOnce(line.prefix, value, option);
}

std::string UsageHint(const CommandSpec& spec) {
  return "usage: " + std::string(spec.usage) + " (see \"setup-pack help " + spec.name + "\")";
}

CommandLine ParseHelpCommand(const std::vector<std::string>& arguments) {
  CommandLine line;
  if (arguments.size() > 2) throw ToolError("help takes at most one command name");
  if (arguments.size() == 2) {
    const CommandSpec* topic = FindCommand(arguments[1]);
    if (topic == nullptr || topic->command == Command::kHelp) {
      throw ToolError("no command named \"" + arguments[1] + "\"; see setup-pack --help");
    }
    line.help_topic = topic->command;
  }
  return line;
}

}  // namespace

uint32_t ParseKey(const std::string& text) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  const auto is_digit = [hex](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return hex ? std::isxdigit(byte) != 0 : std::isdigit(byte) != 0;
  };
  // Sixteen digits or fewer cannot overflow the 64-bit conversion.
  const bool well_formed = !digits.empty() && digits.size() <= 16 &&
                           std::all_of(digits.begin(), digits.end(), is_digit);
  const uint64_t value = well_formed ? std::stoull(digits, nullptr, hex ? 16 : 10) : 0;
  if (!well_formed || value > std::numeric_limits<uint32_t>::max()) {
    throw ToolError("--key takes an unsigned 32-bit number, decimal or 0x-hexadecimal, not \"" +
                    text + "\"");
  }
  return static_cast<uint32_t>(value);
}

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  if (arguments.empty() || arguments[0] == "--help" || arguments[0] == "-h") return CommandLine{};
  if (arguments[0] == "--version") {
    if (arguments.size() > 1) throw ToolError("--version takes no arguments");
    CommandLine line;
    line.command = Command::kVersion;
    return line;
  }
  if (arguments[0] == "help") return ParseHelpCommand(arguments);
  const CommandSpec* spec = FindCommand(arguments[0]);
  if (spec == nullptr) {
    throw ToolError("no command named \"" + arguments[0] + "\"; see setup-pack --help");
  }
  CommandLine line;
  line.command = spec->command;
  bool options_ended = false;
  for (size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (options_ended || argument.size() < 2 || argument[0] != '-') {
      line.operands.push_back(argument);
      continue;
    }
    if (argument == "--") {
      options_ended = true;
    } else if (argument == "--help" || argument == "-h") {
      return CommandLine{Command::kHelp, spec->command, {}, {}, {}, {}, {}};
    } else {
      const size_t equals = argument.find('=');
      const std::string option = argument.substr(0, equals);
      if (!Allows(*spec, option)) {
        throw ToolError(spec->name + std::string(" has no option \"") + option + "\"; " +
                        UsageHint(*spec));
      }
      if (option == kDropSignature) {
        if (equals != std::string::npos) throw ToolError(option + " takes no value");
        if (line.drop_signature) throw ToolError(option + " is given twice");
        line.drop_signature = true;
        continue;
      }
      if (equals == std::string::npos && i + 1 >= arguments.size()) {
        throw ToolError(option + " needs a value; " + UsageHint(*spec));
      }
      ApplyOption(line, option,
                  equals == std::string::npos ? arguments[++i] : argument.substr(equals + 1));
    }
  }
  if (line.operands.size() != spec->operand_count) {
    throw ToolError(spec->name + std::string(" takes ") + std::to_string(spec->operand_count) +
                    " arguments, not " + std::to_string(line.operands.size()) + "; " +
                    UsageHint(*spec));
  }
  return line;
}

std::string HelpText(const std::optional<Command>& topic) {
  if (!topic) return OverviewHelp();
  return FindCommand(*topic)->help;
}

}  // namespace setup_pack
