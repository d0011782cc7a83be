// The package manifest: the text entry "id.txt" at the root of the archive. Each line is read by
// position: column 1 the key letter (compared with case), columns 16 to 115 the value, with
// leading and trailing characters of codes 0 to 32 removed. "S" names the development
// environment and version (D or C, then one digit), "D" the product folder. The last line wins.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace archive {

using StringList = std::vector<std::string>;

// Process-wide manifest values, empty at start; a reading that finds nothing leaves them as they
// were.
extern std::string ManifestIdeSpec;
extern std::string ManifestFolderName;

// Splits text into lines at CR, LF or CR LF, stopping at the first NUL byte; a last line without
// an ending counts.
StringList SplitManifestLines(const std::string& text);

// Reads the first entry named `entry_name` (the walk's prefix rule) as text lines. An empty
// archive name selects the package block. Busy cursor on around the read. None when no entry was
// found or the walk ended on an error.
std::optional<StringList> ReadArchiveText(const std::string& archive_name,
                                          const std::string& entry_name);

// Reads "id.txt" from the package block and sets the two values from its lines, in order.
void ReadManifest();

}  // namespace archive
