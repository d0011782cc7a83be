#include <algorithm>
#include <iostream>
#include <limits>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "archive/Stacker.h"
#include "archive/archive_writer.h"
#include "host/files.h"
#include "host/helpers.h"
#include "tools/setup-pack/archive_map.h"
#include "tools/setup-pack/archive_text.h"
#include "tools/setup-pack/archive_walk.h"
#include "tools/setup-pack/commands.h"
#include "tools/setup-pack/entry_checks.h"
#include "tools/setup-pack/package_image.h"
#include "archive/names.h"
#include "archive/package_rules.h"
#include "tools/setup-pack/tool_error.h"

namespace setup_pack {
namespace {

// The package is never held in memory: a first walk over its headers checks every entry before
// anything is written, and the reader then extracts from the file (see ExtractionSource) through
// its one chunk buffer. Neither pass keeps anything per entry, so memory use does not grow with
// the package.

std::string Label(size_t index, const std::string& name) {
  return "entry index " + std::to_string(index) + " (" + NameForMessage(name) + ")";
}

// The name the reader is handed for an entry: the stored prefix bytes (which the reader strips)
// followed by the path below DEST in platform spelling.
struct ReaderPath {
  std::string relative;
  std::string reader_name;
};

ReaderPath PathFor(const std::string& name, const std::string& walk_prefix) {
  const std::string below = archive::NameBelowWalkPrefix(name, walk_prefix);
  ReaderPath path;
  path.relative = ToNativeText(below);
  path.reader_name = name.substr(0, name.size() - below.size()) + path.relative;
  return path;
}

// Why the entry cannot be written below DEST, or none.
std::optional<std::string> Refusal(const WalkedEntry& entry, const ReaderPath& path,
                                   const std::string& destination) {
  if (const std::optional<std::string> problem = archive::EscapeProblem(path.relative)) {
    return "its name would leave the destination folder: it holds " + *problem;
  }
  if (path.relative.empty() && !archive::IsFolderEntry(entry.header)) {
    return std::string("it is a file that names the destination folder itself");
  }
  if (destination.size() > archive::kMaxPathLength) {
    return "its destination \"" + destination + "\" is " + std::to_string(destination.size()) +
           " characters long; the limit is 255";
  }
  if (path.reader_name.size() > archive::kMaxEntryNameLength) {
    return std::string("its name is longer than 255 characters in this platform's spelling");
  }
  return std::nullopt;
}

// Whether the entry can be written where the entries before it leave things: into a folder that
// exists by then, and under a name no earlier entry took (as Windows compares names). Without a
// prefix the part folders are made before the first entry, as the installer's passes make theirs.
std::optional<std::string> WriteOrderProblem(WriteOrder& order, const WalkedEntry& entry,
                                             const std::string& walk_prefix) {
  const std::string relative = archive::NameBelowWalkPrefix(entry.name, walk_prefix);
  if (relative.empty()) return std::nullopt;
  const size_t separator = relative.find('\\');
  if (walk_prefix.empty() && separator != std::string::npos) {
    if (std::optional<std::string> problem = order.AddFolder(relative.substr(0, separator))) {
      return problem;
    }
  }
  return archive::IsFolderEntry(entry.header) ? order.AddFolder(relative) : order.AddFile(relative);
}

// What the checking walk leaves for the extraction: how many entries the reader's walk must meet,
// and the folders of the parts below DEST (when every entry is extracted).
struct Plan {
  size_t entries = 0;
  std::set<std::string> part_folders;
  // Every folder below DEST that the extraction creates or writes into, relative to DEST.
  std::set<std::string> written_folders;
  // The file destinations, relative to DEST, where a link lies now.
  std::vector<std::string> linked_files;
  size_t largest_data = 0;  // of the entries extracted
};

// What lies at a file entry's destination already, in one look: a link there is taken away before
// the extraction writes (recorded in `plan`), and the package itself, reached by its own name, a
// link or another hard link, is never written over: that would destroy it in the middle of its
// own extraction.
std::optional<std::string> ExistingFileProblem(const std::string& destination,
                                               const std::string& relative,
                                               const std::optional<host::FileIdentity>& package,
                                               Plan& plan) {
  const std::optional<host::ItemOnDisk> item = host::LookAt(destination);
  if (!item) return std::nullopt;
  const std::optional<host::FileIdentity> identity =
      item->is_link ? host::IdentityOf(destination) : item->identity;
  if (package && identity == package) {
    return "its destination \"" + destination + "\" is the package being read";
  }
  if (item->is_link) plan.linked_files.push_back(relative);
  return std::nullopt;
}

Plan CheckEntries(const std::string& file, const PackageImage& image,
                  const std::optional<std::string>& prefix, const std::string& walk_prefix,
                  const std::string& dest) {
  Plan plan;
  size_t refusals = 0;
  const std::string dest_folder = host::AddBackslash(dest);
  const std::optional<host::FileIdentity> package = host::IdentityOf(file);
  WriteOrder order;
  const ArchiveWalk walk = VisitArchiveFile(
      file, image.archive_offset(), image.archive_size(), [&](const WalkedEntry& entry) {
        if (!prefix || !archive::NameMatchesWalkPrefix(entry.name, walk_prefix)) return;
        ++plan.entries;
        plan.largest_data = std::max(plan.largest_data,
                                     static_cast<size_t>(std::max<int32_t>(entry.header.size, 0)));
        const ReaderPath path = PathFor(entry.name, walk_prefix);
        if (walk_prefix.empty() && path.relative.find('\\') != std::string::npos) {
          plan.part_folders.insert(path.relative.substr(0, path.relative.find('\\')));
        }
        const bool folder = archive::IsFolderEntry(entry.header);
        for (size_t end = path.relative.find('\\'); end != std::string::npos;
             end = path.relative.find('\\', end + 1)) {
          plan.written_folders.insert(path.relative.substr(0, end));
        }
        if (folder && !path.relative.empty()) plan.written_folders.insert(path.relative);
        const std::string destination = dest_folder + path.relative;
        std::optional<std::string> refusal = Refusal(entry, path, destination);
        if (!refusal) refusal = WriteOrderProblem(order, entry, walk_prefix);
        if (!refusal && !folder) {
          refusal = ExistingFileProblem(destination, path.relative, package, plan);
        }
        if (refusal) {
          std::cerr << "setup-pack: " << Label(entry.index, entry.name) << ": " << *refusal
                    << '\n';
          ++refusals;
        }
      });
  if (!walk.clean()) {
    throw ToolError(WalkProblem(walk, image.archive_size()) + "; nothing was written");
  }
  if (!prefix) throw ToolError("the prefix cannot be written in ANSI (Windows-1252) text");
  if (refusals > 0) {
    throw ToolError(std::to_string(refusals) +
                    " entries cannot be extracted safely; nothing was written");
  }
  return plan;
}

// Takes away the link at `path`, if one is there still.
void RemoveLinkAt(const std::string& path) {
  const std::optional<host::ItemOnDisk> item = host::LookAt(path);
  if (!item || !item->is_link) return;
  if (!host::DeleteFileAt(path) && !host::RemoveFolder(path)) {
    throw ToolError("cannot remove the link \"" + path + "\" to write a real " +
                    "folder or file in its place; no entry was written");
  }
}

// A link already in DEST where the extraction creates or writes something is removed first, so
// that a real folder or file takes its place, as tar does: nothing is ever written through it to
// a place outside DEST. Folders come first, parents before their children in the set's order, so
// a link taken away is never looked through for the paths below it; a file link found through a
// folder link is gone with it. (DEST itself may be a link: the user named it.)
void ReplaceLinksBelow(const std::string& dest, const Plan& plan) {
  const std::string dest_folder = host::AddBackslash(dest);
  for (const std::string& relative : plan.written_folders) RemoveLinkAt(dest_folder + relative);
  for (const std::string& relative : plan.linked_files) RemoveLinkAt(dest_folder + relative);
}

// The targets the installer's passes create before they write: DEST itself, and when every
// entry is extracted, the folder of each part below it.
void CreateTargets(const Plan& plan, const std::string& dest) {
  std::set<std::string> targets{dest};
  for (const std::string& part : plan.part_folders) targets.insert(host::AddBackslash(dest) + part);
  for (const std::string& target : targets) {
    if (!host::CreateFolderWithParents(target)) {
      throw ToolError("cannot create the folder \"" + target + "\"");
    }
  }
}

// The label of the matching entry number `match` (0 for the first), found by walking the headers
// again: needed only to word a failure.
std::string LabelOfMatch(const std::string& file, const PackageImage& image,
                         const std::string& walk_prefix, size_t match) {
  std::string label = "matching entry number " + std::to_string(match + 1);
  size_t seen = 0;
  VisitArchiveFile(file, image.archive_offset(), image.archive_size(),
                   [&](const WalkedEntry& entry) {
                     if (archive::NameMatchesWalkPrefix(entry.name, walk_prefix) && seen++ == match) {
                       label = Label(entry.index, entry.name);
                     }
                   });
  return label;
}

// The reader's source for the extraction, for as long as it lives. Where the platform maps files,
// a package of small entries is read as the installer reads its own image: the archive area is
// mapped whole and becomes the reader's memory source, which costs no read call per entry (two,
// header and data, with the file source). The pages passed are let go every MiB of entries, so
// that what is resident does not grow with the package; that needs control between entries, so
// a package with an entry of more than 2 MiB, or a walk that skips entries (a prefix), reads the
// file instead, through the reader's file source confined to the area.
class ExtractionSource {
 public:
  static constexpr size_t kReleaseAfter = size_t{1} << 20;
  static constexpr size_t kMappedEntryLimit = size_t{2} << 20;

  ExtractionSource(const std::string& file, const PackageImage& image, bool map)
      : file_(file),
        mapped_(map ? MapArchiveArea(file, image.archive_offset(), image.archive_size())
                    : nullptr) {
    if (mapped_) {
      archive::SetArchiveMemory(mapped_->data(), static_cast<int32_t>(mapped_->size()));
    } else {
      archive::SetArchiveMemory(nullptr, 0);
      archive::SetArchiveFileArea(static_cast<int64_t>(image.archive_offset()),
                                  static_cast<int64_t>(image.archive_size()));
    }
  }
  ~ExtractionSource() {
    archive::SetArchiveMemory(nullptr, 0);
    archive::SetArchiveFileArea(0, std::numeric_limits<int64_t>::max());
  }
  ExtractionSource(const ExtractionSource&) = delete;
  ExtractionSource& operator=(const ExtractionSource&) = delete;

  // The archive name for OpenArchive: none selects the memory source.
  std::string archive_name() const { return mapped_ ? std::string() : file_; }

  // Called once the reader is done with an entry.
  void Passed(const archive::EntryHeader& header) {
    if (!mapped_) return;
    passed_ += archive::kEntryHeaderSize + static_cast<size_t>(std::max<int32_t>(header.size, 0));
    if (passed_ >= kReleaseAfter) {
      mapped_->ReleasePages();
      passed_ = 0;
    }
  }

 private:
  std::string file_;
  std::unique_ptr<MappedArchiveArea> mapped_;
  size_t passed_ = 0;
};

void ExtractChecked(const std::string& file, const PackageImage& image, const Plan& plan,
                    const std::string& prefix, const std::string& walk_prefix,
                    const std::string& dest) {
  const bool map =
      walk_prefix.empty() && plan.largest_data <= ExtractionSource::kMappedEntryLimit;
  ExtractionSource source(file, image, map);
  archive::EntryHeader header{};
  bool found = archive::OpenArchive(source.archive_name(), prefix, header);
  for (size_t done = 0; done < plan.entries; ++done) {
    if (!found) {
      archive::CloseArchive();
      throw ToolError("the reader's walk ended before " +
                      LabelOfMatch(file, image, walk_prefix, done));
    }
    archive::SetEntryName(header, PathFor(archive::EntryName(header), walk_prefix).reader_name);
    if (!archive::ExtractEntry(header, dest)) {
      archive::CloseArchive();
      throw ToolError("cannot extract " + LabelOfMatch(file, image, walk_prefix, done) +
                      "; the " + std::to_string(done) + " entries before it stay in \"" + dest +
                      "\"");
    }
    source.Passed(header);
    found = archive::FindNextEntry(header);
  }
  archive::CloseArchive();
}

}  // namespace

int RunExtract(const CommandLine& line) {
  const std::string& file = line.operands[0];
  const std::string& dest = line.operands[1];
  const PackageImage image = PackageImage::Locate(file);
  const uint32_t key = KeyFor(image, line.key);
  const std::optional<std::string> prefix = ToArchiveText(line.prefix.value_or(std::string()));
  const std::string walk_prefix =
      prefix ? archive::WalkPrefixOf(*prefix) : std::string();
  const Plan plan = CheckEntries(file, image, prefix, walk_prefix, dest);
  // As tar does for a member it does not find: a prefix that names nothing is a mistake.
  if (line.prefix && plan.entries == 0) {
    throw ToolError("no entry lies below the prefix \"" + *line.prefix +
                    "\"; nothing was written");
  }
  ReplaceLinksBelow(dest, plan);
  CreateTargets(plan, dest);
  archive::SetArchiveKey(key);
  archive::SetBlockStreamLength(archive::kInstallerBlockStreamLength);
  ExtractChecked(file, image, plan, *prefix, walk_prefix, dest);
  std::cout << "extracted " << plan.entries << " entries into \"" << dest << "\"\n";
  return kExitSuccess;
}

}  // namespace setup_pack
