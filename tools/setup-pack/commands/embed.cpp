#include <algorithm>
#include <cstring>
#include <iostream>

#include "archive/package_block.h"
#include "archive/package_rules.h"
#include "tools/setup-pack/cli/tool_error.h"
#include "tools/setup-pack/commands/archive_walk.h"
#include "tools/setup-pack/commands/commands.h"
#include "tools/setup-pack/image/installer_template.h"
#include "tools/setup-pack/image/package_image.h"
#include "tools/setup-pack/tree/tree_archive.h"

namespace setup_pack {
namespace {

bool HasManifest(const std::vector<WalkedEntry>& entries) {
  return archive::HasManifest(
      entries, [](const WalkedEntry& entry) { return entry.name; },
      [](const WalkedEntry& entry) { return archive::IsFolderEntry(entry.header); });
}

bool HasManifest(const std::vector<TreeItem>& items) {
  return archive::HasManifest(
      items, [](const TreeItem& item) { return item.name; },
      [](const TreeItem& item) { return item.is_folder; });
}

InstallerSettings SettingsFrom(const CommandLine& line) {
  return InstallerSettings{CheckedCaption(line.caption), line.job,
                           line.key.value_or(archive::kDefaultArchiveKey)};
}

// A package changes bytes that a template's signature covers: a signed template is refused
// unless its signature is to be left out.
void HandleSignature(InstallerTemplate& image, const CommandLine& line) {
  const uint32_t size = image.signature_size();
  if (size == 0) return;
  if (!line.drop_signature) {
    throw ToolError("\"" + line.operands[0] + "\" carries an Authenticode signature (" +
                    std::to_string(size) +
                    " bytes), which the package would break; build from the unsigned program "
                    "and sign the built installer, or give --drop-signature to leave the "
                    "signature out");
  }
  image.DropSignature();
}

void ReportWritten(const std::string& out, size_t entries, size_t archive_size) {
  std::cout << "wrote \"" << out << "\": " << entries << " entries, " << archive_size
            << " archive bytes of " << archive::kArchiveCapacity << "\n";
}

}  // namespace

int RunEmbed(const CommandLine& line) {
  const std::string& archive_path = line.operands[1];
  const std::string& out = line.operands[2];
  const InstallerSettings settings = SettingsFrom(line);
  InstallerTemplate image = InstallerTemplate::Load(line.operands[0]);
  HandleSignature(image, line);
  const host::MappedFile archive_file = MapInput(archive_path);
  if (archive_file.size() > static_cast<size_t>(archive::kArchiveCapacity)) {
    throw ToolError("\"" + archive_path + "\" is " + std::to_string(archive_file.size()) +
                    " bytes; the package block holds at most " +
                    std::to_string(archive::kArchiveCapacity));
  }
  const ArchiveWalk walk = WalkArchive(archive_file.data(), archive_file.size());
  if (!walk.clean()) {
    throw ToolError("\"" + archive_path + "\" is not a whole archive: " +
                    WalkProblem(walk, archive_file.size()));
  }
  ApplySettings(image, settings, HasManifest(walk.entries));
  image.WriteTo(out, [&archive_file](const InstallerTemplate::ArchiveSink& sink) {
    sink(archive_file.data(), archive_file.size());
  });
  ReportWritten(out, walk.entries.size(), archive_file.size());
  return kExitSuccess;
}

int RunBuild(const CommandLine& line) {
  const std::string& out = line.operands[2];
  const InstallerSettings settings = SettingsFrom(line);
  InstallerTemplate image = InstallerTemplate::Load(line.operands[0]);
  HandleSignature(image, line);
  const TreeArchivePlan plan = PlanTreeArchive(line.operands[1]);
  ApplySettings(image, settings, HasManifest(plan.items));
  // The plan has checked that the archive fits the area; WriteTo still stops a file that grew
  // since the scan.
  const size_t filled =
      image.WriteTo(out, [&plan, &settings](const InstallerTemplate::ArchiveSink& sink) {
        WriteTreeArchive(plan, settings.key, sink);
      });
  ReportWritten(out, plan.items.size(), filled);
  return kExitSuccess;
}

}  // namespace setup_pack
