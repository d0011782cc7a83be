#include <iostream>

#include "host/files.h"
#include "tools/setup-pack/cli/tool_error.h"
#include "tools/setup-pack/commands/commands.h"
#include "tools/setup-pack/image/output_file.h"
#include "tools/setup-pack/tree/tree_archive.h"

namespace setup_pack {

int RunCreate(const CommandLine& line) {
  const std::string& dir = line.operands[0];
  const std::string& archive_path = line.operands[1];
  const TreeArchivePlan plan = PlanTreeArchive(dir);
  // An archive written into the folder it packs is found there by the next create, which would
  // pack it into its own new version.
  const std::optional<host::FileIdentity> archive = host::IdentityOf(host::FromNativePath(archive_path));
  for (const TreeItem& item : plan.items) {
    if (archive && !item.is_folder && host::IdentityOf(host::FromNativePath(item.source_path)) == archive) {
      throw ToolError("\"" + item.source_path + "\" is the archive being written; write it " +
                      "outside the folder it packs");
    }
  }
  PendingOutput out(archive_path);
  WriteTreeArchive(plan, line.key.value_or(archive::kDefaultArchiveKey),
                   [&out](const uint8_t* data, size_t size) { out.Write(data, size); });
  out.Commit();
  std::cout << "wrote \"" << archive_path << "\": " << plan.items.size() << " entries, "
            << plan.archive_size << " bytes\n";
  return kExitSuccess;
}

}  // namespace setup_pack
