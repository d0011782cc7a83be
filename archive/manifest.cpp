#include "archive/manifest.h"

#include "archive/Stacker.h"
#include "archive/entry_header.h"
#include "archive/package_rules.h"
#include "host/installer_ui.h"

namespace archive {

std::string ManifestIdeSpec;
std::string ManifestFolderName;

namespace {

// The lines of the latest reading; they live until the next one.
std::optional<StringList> manifest_lines;

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

std::optional<StringList> ReadArchiveText(const std::string& archive_name,
                                          const std::string& entry_name) {
  TextReadScope scope;
  EntryHeader header{};
  if (!OpenArchive(archive_name, entry_name, header)) return std::nullopt;
  return SplitManifestLines(ReadEntryText(header));
}

void ReadManifest() {
  manifest_lines.reset();
  manifest_lines = ReadArchiveText(std::string(), kManifestName);
  if (!manifest_lines) return;
  // A value that no line gives keeps what an earlier reading set.
  const ManifestValues values = ParseManifestLines(*manifest_lines);
  if (values.ide_spec) ManifestIdeSpec = *values.ide_spec;
  if (values.folder_name) ManifestFolderName = *values.folder_name;
}

}  // namespace archive
