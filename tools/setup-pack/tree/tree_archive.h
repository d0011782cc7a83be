// The archive of a folder, as create writes it to a file and build writes it into an installer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive_writer.h"
#include "tools/setup-pack/tree/tree_scan.h"

namespace setup_pack {

struct TreeArchivePlan {
  std::vector<TreeItem> items;
  int64_t archive_size = 0;  // headers and data, in bytes
};

// Scans the folder and checks what the archive would be before a byte is written. Throws
// ToolError for the tree's own faults (see ScanTree), a destination over 255 characters below a
// typical target folder (see package_rules.h; the D value comes from the folder's id.txt), or an
// archive larger than the package block's area. Prints a warning for each top-level item that no
// job extracts.
TreeArchivePlan PlanTreeArchive(const std::string& native_root);

// Writes the planned entries in order, file data streamed through a buffer. Seeds come from a
// fresh SeedGenerator, so the same tree gives the same bytes. Throws ToolError when a file cannot
// be read or changed size since the scan.
void WriteTreeArchive(const TreeArchivePlan& plan, uint32_t key,
                      const archive::ArchiveWriter::Sink& sink);

}  // namespace setup_pack
