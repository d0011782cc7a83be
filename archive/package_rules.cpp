#include "archive/package_rules.h"

#include <algorithm>

#include "archive/names.h"

namespace archive {
namespace {

bool IsDotsAndBlanks(const std::string& component) {
  return component.find_first_not_of(". ") == std::string::npos;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// The port numbers of device names: the digits, and the superscripts one to three of
// Windows-1252 (COM¹ is a device as COM1 is).
bool IsPortNumber(char c) {
  const auto code = static_cast<unsigned char>(c);
  return (c >= '0' && c <= '9') || code == 0xB9 || code == 0xB2 || code == 0xB3;
}

// Windows drops a trailing dot or blank from a name when it creates or opens it: "x." and "x "
// are the file "x".
bool EndsInDotOrBlank(const std::string& component) {
  return !component.empty() && (component.back() == '.' || component.back() == ' ');
}

std::string TrailingProblem(const std::string& component) {
  return "the component " + Quoted(component) +
         " (it ends in a dot or a blank, which Windows drops: it would name another file)";
}

// Windows gives these names to devices in every folder, also with an extension or with blanks
// before it ("nul.txt", "COM1 .log"), in any case: a file opened under such a name is the
// device, wherever the path points.
bool IsDeviceName(const std::string& component) {
  std::string stem = component.substr(0, component.find('.'));
  stem.erase(stem.find_last_not_of(' ') + 1);
  for (char& c : stem) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (stem == device) return true;
  }
  return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
         IsPortNumber(stem[3]);
}

std::string DeviceProblem(const std::string& component) {
  return "the component " + Quoted(component) + " (a device name on Windows)";
}

std::string DescribeCharacter(char c) {
  const unsigned code = static_cast<unsigned char>(c);
  if (code < 32) {
    constexpr char kHex[] = "0123456789ABCDEF";
    return std::string("control character 0x") + kHex[code >> 4] + kHex[code & 15];
  }
  return std::string("character '") + c + "'";
}

bool IsControlOrBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

std::string ValueOf(const std::string& line) {
  if (line.size() <= kManifestValueColumn) return std::string();
  const std::string value = line.substr(kManifestValueColumn, kMaxManifestValueLength);
  const auto blank = IsControlOrBlank;
  size_t first = 0;
  size_t end = value.size();
  while (first < end && blank(value[first])) ++first;
  while (end > first && blank(value[end - 1])) --end;
  return value.substr(first, end - first);
}

}  // namespace

std::vector<std::string> SplitPath(const std::string& path, const std::string& separators) {
  std::vector<std::string> components;
  size_t start = 0;
  for (;;) {
    const size_t stop = path.find_first_of(separators, start);
    components.push_back(path.substr(start, stop - start));
    if (stop == std::string::npos) return components;
    start = stop + 1;
  }
}

std::string PartOf(const std::string& name) {
  return UpperCaseAscii(name.substr(0, name.find('\\')));
}

bool IsKnownPart(const std::string& part) { return part == "C" || part == "S" || part == "P"; }

bool IsManifestName(const std::string& name) {
  return UpperCaseAscii(name) == UpperCaseAscii(kManifestName);
}

bool IsManifestEntry(const std::string& name) {
  return NameMatchesWalkPrefix(name, WalkPrefixOf(kManifestName));
}

std::optional<std::string> ComponentProblem(const std::string& component) {
  if (component.empty()) return "an empty component";
  if (IsDotsAndBlanks(component)) {
    return "the component " + Quoted(component) + " (dots and blanks only)";
  }
  for (const char c : component) {
    if (static_cast<unsigned char>(c) < 32 || std::string("<>:\"/\\|?*").find(c) != std::string::npos) {
      return "the " + DescribeCharacter(c) + " (not allowed in Windows names)";
    }
  }
  if (IsDeviceName(component)) return DeviceProblem(component);
  if (EndsInDotOrBlank(component)) return TrailingProblem(component);
  return std::nullopt;
}

std::optional<std::string> ComponentsProblem(const std::string& path,
                                             const std::string& separators) {
  for (const std::string& component : SplitPath(path, separators)) {
    if (std::optional<std::string> problem = ComponentProblem(component)) return problem;
  }
  return std::nullopt;
}

bool IsPlainAsciiPath(const std::string& relative_path) {
  for (const char c : relative_path) {
    if (c < 0x20 || c > 0x7E || c == '~') return false;
  }
  return !ComponentsProblem(relative_path, "\\");
}

std::string FoldCaseAsWindows(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) {
    const auto code = static_cast<unsigned char>(c);
    if (code >= 'a' && code <= 'z') {
      c = static_cast<char>(code - 0x20);
    } else if (code >= 0xE0 && code <= 0xFE && code != 0xF7) {
      c = static_cast<char>(code - 0x20);  // à..þ to À..Þ, but not the division sign
    } else if (code == 0x9A || code == 0x9C || code == 0x9E) {
      c = static_cast<char>(code - 0x10);  // š œ ž to Š Œ Ž
    } else if (code == 0xFF) {
      c = static_cast<char>(0x9F);  // ÿ to Ÿ
    }
  }
  return folded;
}

std::optional<std::string> EscapeProblem(const std::string& relative_path) {
  if (relative_path.empty()) return std::nullopt;
  if (relative_path.find(':') != std::string::npos) return "a colon (a drive letter)";
  const std::vector<std::string> components = SplitPath(relative_path, "\\/");
  if (components.front().empty()) return "a leading separator (an absolute path)";
  for (const std::string& component : components) {
    if (component.empty()) return "an empty component";
    if (IsDotsAndBlanks(component)) {
      return "the component " + Quoted(component) + " (dots and blanks only)";
    }
    if (IsDeviceName(component)) return DeviceProblem(component);
    if (EndsInDotOrBlank(component)) return TrailingProblem(component);
  }
  return std::nullopt;
}

std::optional<size_t> TypicalDestinationLength(const std::string& name,
                                               const std::string& library_folder) {
  const std::string part = PartOf(name);
  if (!IsKnownPart(part)) return std::nullopt;
  const size_t folder_length = part == "P"           ? sizeof kApplicationFolder - 1
                               : library_folder.empty() ? sizeof kDefaultLibraryFolder - 1
                                                        : library_folder.size();
  const size_t relative_length = name.size() > part.size() ? name.size() - part.size() - 1 : 0;
  return kTypicalRootLength + folder_length + 1 + relative_length;
}

std::vector<std::string> SplitManifestLines(const std::string& text) {
  const std::string::size_type nul = text.find('\0');
  const std::string::size_type end = nul == std::string::npos ? text.size() : nul;
  std::vector<std::string> lines;
  std::string::size_type start = 0;
  while (start < end) {
    std::string::size_type stop = start;
    while (stop < end && text[stop] != '\r' && text[stop] != '\n') ++stop;
    lines.push_back(text.substr(start, stop - start));
    const bool crlf = stop + 1 < end && text[stop] == '\r' && text[stop + 1] == '\n';
    start = stop + (crlf ? 2 : 1);
  }
  return lines;
}

ManifestValues ParseManifestLines(const std::vector<std::string>& lines) {
  ManifestValues values;
  for (const std::string& line : lines) {
    if (line.empty()) continue;
    if (line.front() == 'S') values.ide_spec = ValueOf(line);
    if (line.front() == 'D') values.folder_name = ValueOf(line);
  }
  return values;
}

ManifestValues ParseManifestText(const std::string& text) {
  return ParseManifestLines(SplitManifestLines(text));
}

bool IsPlainRelativeFolderName(const std::string& name) {
  if (name.find(':') != std::string::npos) return false;
  for (const std::string& component : SplitPath(name, "\\/")) {
    // Also true for an empty component.
    if (std::all_of(component.begin(), component.end(),
                    [](char c) { return c == '.' || IsControlOrBlank(c); })) {
      return false;
    }
  }
  return true;
}

std::optional<std::string> IdeSpecProblem(const std::string& value) {
  if (value.size() == 2 && (value[0] == 'D' || value[0] == 'C') && value[1] >= '0' &&
      value[1] <= '9') {
    return std::nullopt;
  }
  if (value.empty()) return std::string("the manifest has no S value (D or C and a digit)");
  return "the manifest's S value " + Quoted(value) +
         " is not an upper-case D or C followed by one digit";
}

std::optional<std::string> FolderNameProblem(const std::string& value) {
  if (value.empty()) return std::nullopt;
  const std::string prefix = "the manifest's D value " + Quoted(value);
  if (value.front() == '\\' || value.front() == '/') return prefix + " begins with a backslash";
  if (value.size() >= 2 && value[1] == ':') return prefix + " names a drive";
  if (const std::optional<std::string> problem = ComponentsProblem(value, "\\/")) {
    return prefix + " is not a relative path of plain folder names: it holds " + *problem;
  }
  // Implied by the components' checks; kept so that nothing the job refuses can pass here.
  if (!IsPlainRelativeFolderName(value)) {
    return prefix + " is not a relative path of plain folder names: the installer refuses it";
  }
  return std::nullopt;
}

}  // namespace archive
