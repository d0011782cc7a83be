#include <algorithm>
#include <iostream>
#include <optional>
#include <set>

#include "archive/Stacker.h"
#include "archive/archive_writer.h"
#include "host/files.h"
#include "host/helpers.h"
#include "tools/setup-pack/archive_text.h"
#include "tools/setup-pack/archive_walk.h"
#include "tools/setup-pack/commands.h"
#include "tools/setup-pack/package_image.h"
#include "tools/setup-pack/package_rules.h"
#include "tools/setup-pack/tool_error.h"

namespace setup_pack {
namespace {

// One entry the walk of the prefix will meet, with the name the reader is handed: the stored
// prefix bytes (which the reader strips) followed by the path below DEST in platform spelling.
struct PlannedEntry {
  size_t index = 0;
  std::string label;
  std::string reader_name;
  std::string part_folder;  // first component below DEST when extracting every entry
};

std::string Label(const WalkedEntry& entry) {
  return "entry index " + std::to_string(entry.index) + " (" + ToNativeText(entry.name) + ")";
}

bool Matches(const std::string& name, const std::string& walk_prefix) {
  return walk_prefix.empty() ||
         (host::UpperCaseAscii(name) + "\\").compare(0, walk_prefix.size(), walk_prefix) == 0;
}

// Why the entry cannot be written below DEST, or none.
std::optional<std::string> Refusal(const WalkedEntry& entry, const std::string& relative,
                                   const std::string& destination,
                                   const std::string& reader_name) {
  if (const std::optional<std::string> problem = EscapeProblem(relative)) {
    return "its name would leave the destination folder: it holds " + *problem;
  }
  if (relative.empty() && !archive::IsFolderEntry(entry.header)) {
    return std::string("it is a file that names the destination folder itself");
  }
  if (destination.size() > kMaxPathLength) {
    return "its destination \"" + destination + "\" is " + std::to_string(destination.size()) +
           " characters long; the limit is 255";
  }
  if (reader_name.size() > archive::kMaxEntryNameLength) {
    return std::string("its name is longer than 255 characters in this platform's spelling");
  }
  return std::nullopt;
}

std::vector<PlannedEntry> PlanExtraction(const ArchiveWalk& walk, const std::string& walk_prefix,
                                         const std::string& dest) {
  std::vector<PlannedEntry> plan;
  std::vector<std::string> refusals;
  for (const WalkedEntry& entry : walk.entries) {
    if (!Matches(entry.name, walk_prefix)) continue;
    const size_t stripped = std::min(walk_prefix.size(), entry.name.size());
    const std::string relative = ToNativeText(entry.name.substr(stripped));
    PlannedEntry planned;
    planned.index = entry.index;
    planned.label = Label(entry);
    planned.reader_name = entry.name.substr(0, stripped) + relative;
    if (walk_prefix.empty() && relative.find('\\') != std::string::npos) {
      planned.part_folder = relative.substr(0, relative.find('\\'));
    }
    const std::string destination = host::AddBackslash(dest) + relative;
    if (const std::optional<std::string> refusal =
            Refusal(entry, relative, destination, planned.reader_name)) {
      refusals.push_back(planned.label + ": " + *refusal);
    }
    plan.push_back(planned);
  }
  if (!refusals.empty()) {
    for (const std::string& refusal : refusals) std::cerr << "setup-pack: " << refusal << '\n';
    throw ToolError(std::to_string(refusals.size()) +
                    " entries cannot be extracted safely; nothing was written");
  }
  return plan;
}

// The targets the installer's passes create before they write: DEST itself, and when every
// entry is extracted, the folder of each part below it.
void CreateTargets(const std::vector<PlannedEntry>& plan, const std::string& dest) {
  std::set<std::string> targets{dest};
  for (const PlannedEntry& planned : plan) {
    if (!planned.part_folder.empty()) targets.insert(host::AddBackslash(dest) + planned.part_folder);
  }
  for (const std::string& target : targets) {
    if (!host::CreateFolderWithParents(target)) {
      throw ToolError("cannot create the folder \"" + target + "\"");
    }
  }
}

void ExtractPlanned(const std::vector<PlannedEntry>& plan, const std::string& walk_prefix,
                    const std::string& dest) {
  archive::EntryHeader header{};
  bool found = archive::OpenArchive(std::string(), walk_prefix, header);
  for (const PlannedEntry& planned : plan) {
    if (!found) {
      archive::CloseArchive();
      throw ToolError("the reader's walk ended before " + planned.label);
    }
    archive::SetEntryName(header, planned.reader_name);
    if (!archive::ExtractEntry(header, dest)) {
      archive::CloseArchive();
      throw ToolError("cannot extract " + planned.label);
    }
    found = archive::FindNextEntry(header);
  }
  archive::CloseArchive();
}

}  // namespace

int RunExtract(const CommandLine& line) {
  const PackageImage image = PackageImage::Load(line.operands[0]);
  const std::string& dest = line.operands[1];
  const uint32_t key = KeyFor(image, line.key);
  const ArchiveWalk walk = WalkArchive(image.archive(), image.archive_size());
  if (!walk.clean()) {
    throw ToolError(walk.Problem(image.archive_size()) + "; nothing was written");
  }
  const std::optional<std::string> prefix = ToArchiveText(line.prefix.value_or(std::string()));
  if (!prefix) throw ToolError("the prefix cannot be written in ANSI (Windows-1252) text");
  const std::string walk_prefix = host::AddBackslash(host::UpperCaseAscii(*prefix));
  const std::vector<PlannedEntry> plan = PlanExtraction(walk, walk_prefix, dest);
  CreateTargets(plan, dest);
  archive::SetArchiveMemory(image.archive(), static_cast<int32_t>(image.archive_size()));
  archive::SetArchiveKey(key);
  archive::SetBlockStreamLength(archive::kInstallerBlockStreamLength);
  ExtractPlanned(plan, *prefix, dest);
  std::cout << "extracted " << plan.size() << " entries into \"" << dest << "\"\n";
  return kExitSuccess;
}

}  // namespace setup_pack
