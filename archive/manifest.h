// The package manifest: the text entry "id.txt" at the root of the archive, read by the column
// rules of archive/package_rules.h. "S" names the development environment and version (D or C,
// then one digit), "D" the product folder. The last line wins.
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

// Reads the first entry named `entry_name` (the walk's prefix rule) as text lines. An empty
// archive name selects the package block. Busy cursor on around the read. None when no entry was
// found or the walk ended on an error.
std::optional<StringList> ReadArchiveText(const std::string& archive_name,
                                          const std::string& entry_name);

// Reads "id.txt" from the package block and sets the two values from its lines, in order.
void ReadManifest();

}  // namespace archive
