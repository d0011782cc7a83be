#include "tools/setup-pack/tree/tree_archive.h"

#include <algorithm>
#include <iostream>
#include <optional>
#include <vector>

#include "archive/Stacker.h"
#include "archive/package_block.h"
#include "archive/package_rules.h"
#include "host/files.h"
#include "host/host_error.h"
#include "tools/setup-pack/cli/tool_error.h"
#include "tools/setup-pack/tree/page_buffer.h"

namespace setup_pack {
namespace {

constexpr size_t kReadBufferSize = 64 * 1024;

// The D value of the folder's own id.txt, read as the installer reads the entry (the first one
// the manifest read finds, its first 10,000 bytes); empty when there is none.
std::string LibraryFolderOf(const std::vector<TreeItem>& items) {
  for (const TreeItem& item : items) {
    if (!archive::IsManifestEntry(item.name)) continue;
    if (item.is_folder) return std::string();
    try {
      host::InputFile file = host::InputFile::OpenReadOnly(host::FromNativePath(item.source_path));
      std::string text(static_cast<size_t>(archive::kMaxTextSize), '\0');
      text.resize(file.Read(text.data(), text.size()));
      return archive::ParseManifestText(text).folder_name.value_or(std::string());
    } catch (const host::HostError& error) {
      throw ToolError(error.what());
    }
  }
  return std::string();
}

void WarnAboutUnknownParts(const std::vector<TreeItem>& items) {
  for (const TreeItem& item : items) {
    if (item.name.find('\\') != std::string::npos) continue;
    const bool known = item.is_folder ? archive::IsKnownPart(archive::PartOf(item.name)) : archive::IsManifestName(item.name);
    if (!known) {
      std::cerr << "setup-pack: warning: \"" << item.source_path
                << "\" is outside the parts C, S and P and is not id.txt; no job extracts it\n";
    }
  }
}

void WriteFileEntry(archive::ArchiveWriter& writer, const archive::EntrySpec& spec,
                    const TreeItem& item, PageBuffer& buffer) {
  try {
    host::InputFile file = host::InputFile::OpenReadOnly(host::FromNativePath(item.source_path));
    writer.BeginFile(spec, static_cast<int32_t>(item.size));
    uint64_t remaining = item.size;
    while (remaining > 0) {
      const size_t wanted = static_cast<size_t>(std::min<uint64_t>(remaining, buffer.size()));
      const size_t got = file.Read(buffer.data(), wanted);
      if (got == 0) break;
      writer.WriteData(buffer.data(), got);
      remaining -= got;
    }
    if (remaining != 0 || file.Read(buffer.data(), 1) != 0) {
      throw ToolError("\"" + item.source_path + "\" changed size while it was being packed");
    }
    writer.EndFile();
  } catch (const host::HostError& error) {
    throw ToolError(error.what());
  }
}

}  // namespace

TreeArchivePlan PlanTreeArchive(const std::string& native_root) {
  TreeArchivePlan plan;
  plan.items = ScanTree(native_root);
  const std::string library_folder = LibraryFolderOf(plan.items);
  for (const TreeItem& item : plan.items) {
    const std::optional<size_t> length = archive::TypicalDestinationLength(item.name, library_folder);
    if (length && *length > archive::kMaxPathLength) {
      throw ToolError("\"" + item.source_path + "\" would be installed at a path of " +
                      std::to_string(*length) +
                      " characters below a typical target folder; the limit is 255");
    }
    plan.archive_size += static_cast<int64_t>(archive::kEntryHeaderSize);
    if (!item.is_folder) plan.archive_size += static_cast<int64_t>(item.size);
  }
  if (plan.archive_size > archive::kArchiveCapacity) {
    throw ToolError("the archive of \"" + native_root + "\" would be " +
                    std::to_string(plan.archive_size) +
                    " bytes; the package block holds at most " +
                    std::to_string(archive::kArchiveCapacity));
  }
  WarnAboutUnknownParts(plan.items);
  return plan;
}

void WriteTreeArchive(const TreeArchivePlan& plan, uint32_t key,
                      const archive::ArchiveWriter::Sink& sink) {
  archive::ArchiveWriter writer(key, archive::kInstallerBlockStreamLength, sink);
  archive::SeedGenerator seeds;
  PageBuffer buffer(kReadBufferSize);
  for (const TreeItem& item : plan.items) {
    archive::EntrySpec spec;
    spec.name = item.name;
    spec.attributes = item.attributes;
    spec.modified = item.modified;
    spec.seeds = seeds.Next();
    if (item.is_folder) {
      writer.AddFolder(spec);
    } else {
      WriteFileEntry(writer, spec, item, buffer);
    }
  }
}

}  // namespace setup_pack
