#include <cstdio>
#include <iostream>

#include "archive/dos_time.h"
#include "tools/setup-pack/cli/tool_error.h"
#include "tools/setup-pack/commands/archive_walk.h"
#include "tools/setup-pack/commands/commands.h"
#include "tools/setup-pack/image/package_image.h"
#include "tools/setup-pack/text/archive_text.h"

namespace setup_pack {
namespace {


std::string ListLine(const WalkedEntry& entry) {
  char attributes[16];
  std::snprintf(attributes, sizeof attributes, "0x%08X",
                static_cast<unsigned>(entry.header.attributes));
  const std::string name =
      NameForMessage(entry.name) + (archive::IsFolderEntry(entry.header) ? "\\" : "");
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
