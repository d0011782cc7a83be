#include <algorithm>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "app/entry_writers.h"
#include "archive/Stacker.h"
#include "archive/archive_writer.h"
#include "archive/names.h"
#include "archive/package_rules.h"
#include "host/files.h"
#include "host/helpers.h"
#include "tools/setup-pack/cli/tool_error.h"
#include "tools/setup-pack/commands/archive_walk.h"
#include "tools/setup-pack/commands/commands.h"
#include "tools/setup-pack/commands/entry_checks.h"
#include "tools/setup-pack/image/package_image.h"
#include "tools/setup-pack/text/archive_text.h"

namespace setup_pack {
namespace {

// The package file is read once, into memory (an installer's archive is at most 18,000,000
// bytes). A walk over its headers checks every entry before anything is written; the installer's
// own reader then extracts from that memory, as the installer extracts from its image. Neither
// pass keeps anything per entry.

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
std::optional<std::string> Refusal(const WalkedEntry& entry, const std::string& walk_prefix,
                                   const ReaderPath& path, const std::string& destination) {
  if (const std::optional<std::string> problem = archive::EscapeProblem(path.relative)) {
    return "its name would leave the destination folder: it holds " + *problem;
  }
  // What verify reports of a name, and what Windows cannot create (control characters among
  // them), is not written here either.
  const std::string below = archive::NameBelowWalkPrefix(entry.name, walk_prefix);
  if (!below.empty()) {
    if (const std::optional<std::string> problem = archive::ComponentsProblem(below)) {
      return "its name holds " + *problem;
    }
  }
  if (path.relative.empty() && !archive::IsFolderEntry(entry.header)) {
    return std::string("it is a file that names the destination folder itself");
  }
  if (destination.size() > archive::kMaxPathLength) {
    return "its destination \"" + host::NativePath(destination) + "\" is " +
           std::to_string(destination.size()) +
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
  // The folders files go into where something lies already (full paths, as FolderOf gives
  // them): their files are written one after another, by the reader.
  std::set<std::string> occupied_folders;
};

// The folder a file destination goes into; DEST as given when it goes right into DEST (so that a
// drive root keeps its backslash: "C:" alone is the drive's current folder). `dest_folder` is
// host::AddBackslash(dest), made once by the caller.
std::string FolderOf(const std::string& destination, const std::string& dest,
                     const std::string& dest_folder) {
  const size_t separator = destination.find_last_of('\\');
  return separator + 1 == dest_folder.size() ? dest : destination.substr(0, separator);
}

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
    return "its destination \"" + host::NativePath(destination) + "\" is the package being read";
  }
  if (item->is_link) plan.linked_files.push_back(relative);
  return std::nullopt;
}

// Whether anything lies at a folder's path, looked up once per folder: a file destination is
// looked at only in a folder where something lies, since nothing lies in a folder that is not
// there (in a fresh DEST, no destination is looked at).
class FolderPresence {
 public:
  bool SomethingAt(const std::string& folder) {
    const auto [known, inserted] = present_.try_emplace(folder, false);
    if (inserted) known->second = host::LookAt(folder).has_value();
    return known->second;
  }

 private:
  std::map<std::string, bool> present_;
};

Plan CheckEntries(const std::string& file, const PackageImage& image,
                  const std::optional<std::string>& prefix, const std::string& walk_prefix,
                  const std::string& dest) {
  Plan plan;
  size_t refusals = 0;
  const std::string dest_folder = host::AddBackslash(dest);
  const std::optional<host::FileIdentity> package = host::IdentityOf(host::FromNativePath(file));
  WriteOrder order;
  FolderPresence folders;
  archive::MemoryWalkSource source(image.archive(), image.archive_size());
  const ArchiveWalk walk = VisitArchive(source, [&](const WalkedEntry& entry) {
        if (!prefix || !archive::NameMatchesWalkPrefix(entry.name, walk_prefix)) return;
        ++plan.entries;
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
        std::optional<std::string> refusal = Refusal(entry, walk_prefix, path, destination);
        if (!refusal) refusal = WriteOrderProblem(order, entry, walk_prefix);
        const std::string into = FolderOf(destination, dest, dest_folder);
        if (!refusal && !folder && folders.SomethingAt(into)) {
          plan.occupied_folders.insert(into);
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
    throw ToolError("cannot remove the link \"" + host::NativePath(path) + "\" to write a real " +
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
      throw ToolError("cannot create the folder \"" + host::NativePath(target) + "\"");
    }
  }
}

// The label of the matching entry number `match` (0 for the first), found by walking the headers
// again: needed only to word a failure.
std::string LabelOfMatch(const PackageImage& image, const std::string& walk_prefix, size_t match) {
  std::string label = "matching entry number " + std::to_string(match + 1);
  size_t seen = 0;
  archive::MemoryWalkSource source(image.archive(), image.archive_size());
  VisitArchive(source, [&](const WalkedEntry& entry) {
    if (archive::NameMatchesWalkPrefix(entry.name, walk_prefix) && seen++ == match) {
      label = Label(entry.index, entry.name);
    }
  });
  return label;
}

// The reader's memory source for as long as it lives: the archive in the package read.
class ReaderOnImage {
 public:
  explicit ReaderOnImage(const PackageImage& image) {
    archive::SetArchiveMemory(image.archive(), static_cast<int32_t>(image.archive_size()));
  }
  ~ReaderOnImage() {
    archive::CloseArchive();
    archive::SetArchiveMemory(nullptr, 0);
  }
  ReaderOnImage(const ReaderOnImage&) = delete;
  ReaderOnImage& operator=(const ReaderOnImage&) = delete;
};

[[noreturn]] void ThrowCannotExtract(const PackageImage& image, const std::string& walk_prefix,
                                     const std::string& dest, size_t match) {
  throw ToolError("cannot extract " + LabelOfMatch(image, walk_prefix, match) + "; the " +
                  std::to_string(match) + " entries before it stay in \"" +
                  host::NativePath(dest) + "\"");
}

// Waits for the files handed to the writers; a failure among them (shown as the reader shows its
// own) ends the extraction.
void SettleWriters(app::EntryWriters& writers, const PackageImage& image,
                   const std::string& walk_prefix, const std::string& dest) {
  if (const std::optional<size_t> failed = writers.Finish()) {
    ThrowCannotExtract(image, walk_prefix, dest, *failed);
  }
}

// The current entry's file and data, when the writers may write it: what the installer's pass
// hands over, and only into a folder that held nothing at the check.
std::optional<app::HandOver> HandOverOf(const archive::EntryHeader& header, const Plan& plan,
                                        const std::string& dest, const std::string& dest_folder) {
  std::optional<std::string> path = app::HandOverPath(header, dest);
  if (!path || plan.occupied_folders.count(FolderOf(*path, dest, dest_folder)) > 0) {
    return std::nullopt;
  }
  return app::HandOverAt(header, std::move(*path));
}

// The entries are read in order by the installer's reader. New files go to the writers; every
// other entry (folders, files where something lies, large files) is extracted by the reader
// itself once the files before it are written, so that the order of everything the user could
// see stays the order of the entries.
void ExtractChecked(const PackageImage& image, const Plan& plan, const std::string& prefix,
                    const std::string& walk_prefix, const std::string& dest) {
  const ReaderOnImage reader(image);
  app::EntryWriters writers(app::kWriterThreads);
  const std::string dest_folder = host::AddBackslash(dest);
  archive::EntryHeader header{};
  bool found = archive::OpenArchive(std::string(), prefix, header);
  for (size_t done = 0; done < plan.entries; ++done) {
    if (!found) {
      SettleWriters(writers, image, walk_prefix, dest);
      throw ToolError("the reader's walk ended before " + LabelOfMatch(image, walk_prefix, done));
    }
    archive::SetEntryName(header, PathFor(archive::EntryName(header), walk_prefix).reader_name);
    if (std::optional<app::HandOver> file = HandOverOf(header, plan, dest, dest_folder)) {
      // Refused when an earlier file failed (settling reports it and ends the extraction) or
      // when many files wait for their turn (settling writes them).
      if (!writers.Add(done, header, std::move(*file))) {
        SettleWriters(writers, image, walk_prefix, dest);
      }
    } else {
      SettleWriters(writers, image, walk_prefix, dest);
      if (!archive::ExtractEntry(header, dest)) ThrowCannotExtract(image, walk_prefix, dest, done);
    }
    found = archive::FindNextEntry(header);
  }
  SettleWriters(writers, image, walk_prefix, dest);
}

}  // namespace

int RunExtract(const CommandLine& line) {
  const std::string& file = line.operands[0];
  // DEST in the file layer's spelling, as the reader writes below it.
  const std::string dest = host::FromNativePath(line.operands[1]);
  const PackageImage image = PackageImage::Load(file);
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
  ExtractChecked(image, plan, *prefix, walk_prefix, dest);
  std::cout << "extracted " << plan.entries << " entries into \"" << line.operands[1] << "\"\n";
  return kExitSuccess;
}

}  // namespace setup_pack
