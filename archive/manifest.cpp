#include "archive/manifest.h"

#include "archive/Stacker.h"
#include "archive/entry_header.h"
#include "host/installer_ui.h"

namespace archive {

std::string ManifestIdeSpec;
std::string ManifestFolderName;

namespace {

constexpr char kManifestEntryName[] = "id.txt";
constexpr size_t kValueColumn = 15;  // column 16, counting from 1
constexpr size_t kMaxValueLength = 100;

// The lines of the latest reading; they live until the next one.
std::optional<StringList> manifest_lines;

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

std::string ValueOf(const std::string& line) {
  if (line.size() <= kValueColumn) return std::string();
  const std::string value = line.substr(kValueColumn, kMaxValueLength);
  size_t first = 0;
  size_t end = value.size();
  while (first < end && IsBlank(value[first])) ++first;
  while (end > first && IsBlank(value[end - 1])) --end;
  return value.substr(first, end - first);
}

void ApplyLine(const std::string& line) {
  if (line.empty()) return;
  if (line.front() == 'S') {
    ManifestIdeSpec = ValueOf(line);
  } else if (line.front() == 'D') {
    ManifestFolderName = ValueOf(line);
  }
}

// Ends the text read even when the read throws: the walk is closed and the cursor restored
// before the error travels on to the caller.
class TextReadScope {
 public:
  TextReadScope() { host::Ui().SetBusyCursor(true); }
  ~TextReadScope() {
    CloseArchive();
    host::Ui().SetBusyCursor(false);
  }
  TextReadScope(const TextReadScope&) = delete;
  TextReadScope& operator=(const TextReadScope&) = delete;
};

}  // namespace

StringList SplitManifestLines(const std::string& text) {
  const std::string::size_type nul = text.find('\0');
  const std::string::size_type end = nul == std::string::npos ? text.size() : nul;
  StringList lines;
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

std::optional<StringList> ReadArchiveText(const std::string& archive_name,
                                          const std::string& entry_name) {
  TextReadScope scope;
  EntryHeader header{};
  if (!OpenArchive(archive_name, entry_name, header)) return std::nullopt;
  return SplitManifestLines(ReadEntryText(header));
}

void ReadManifest() {
  manifest_lines.reset();
  manifest_lines = ReadArchiveText(std::string(), kManifestEntryName);
  if (!manifest_lines) return;
  for (const std::string& line : *manifest_lines) ApplyLine(line);
}

}  // namespace archive
