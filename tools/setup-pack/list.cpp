#include <cstdio>
#include <iostream>

#include "tools/setup-pack/archive_text.h"
#include "tools/setup-pack/archive_walk.h"
#include "tools/setup-pack/commands.h"
#include "archive/dos_time.h"
#include "tools/setup-pack/package_image.h"
#include "tools/setup-pack/tool_error.h"

namespace setup_pack {
namespace {

// Control characters in a name would break the listing's lines and columns: they are shown as
// cat -v shows them, ^I for a tab, ^J for a line feed, ^? for DEL.
std::string Printable(const std::string& text) {
  std::string shown;
  for (const char c : text) {
    const auto code = static_cast<unsigned char>(c);
    if (code < 0x20) {
      shown += '^';
      shown += static_cast<char>(code + 0x40);
    } else if (code == 0x7F) {
      shown += "^?";
    } else {
      shown += c;
    }
  }
  return shown;
}

std::string ListLine(const WalkedEntry& entry) {
  char attributes[16];
  std::snprintf(attributes, sizeof attributes, "0x%08X",
                static_cast<unsigned>(entry.header.attributes));
  const std::string name =
      Printable(ToNativeText(entry.name)) + (archive::IsFolderEntry(entry.header) ? "\\" : "");
  return name + "\t" + std::to_string(entry.header.size) + "\t" + attributes + "\t" +
         archive::FormatDosDateTime(entry.header.modified);
}

}  // namespace

int RunList(const CommandLine& line) {
  const PackageImage image = PackageImage::Load(line.operands[0]);
  const ArchiveWalk walk = WalkArchive(image.archive(), image.archive_size());
  for (const WalkedEntry& entry : walk.entries) std::cout << ListLine(entry) << '\n';
  std::cout.flush();
  if (!walk.clean()) throw ToolError(WalkProblem(walk, image.archive_size()));
  std::cout << walk.entries.size() << " entries, " << walk.DataBytes() << " data bytes\n";
  return kExitSuccess;
}

}  // namespace setup_pack
