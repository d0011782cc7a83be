#include "tools/setup-pack/commands/entry_checks.h"

#include <optional>
#include <set>

#include "archive/package_rules.h"
#include "tools/setup-pack/text/archive_text.h"

namespace setup_pack {
namespace {

class EntryChecker {
 public:
  EntryChecker(const std::string& library_folder, std::vector<std::string>& problems)
      : library_folder_(library_folder), problems_(problems) {}

  void Check(const WalkedEntry& entry) {
    label_ = "entry index " + std::to_string(entry.index) + " (" + NameForMessage(entry.name) + ")";
    if (entry.name.empty()) return Report("has an empty name");
    CheckComponents(entry.name);
    const bool folder = archive::IsFolderEntry(entry.header);
    if (entry.name.find('\\') == std::string::npos && archive::IsManifestName(entry.name)) {
      if (folder) Report("is a folder; the manifest id.txt must be a file");
      return;
    }
    if (!archive::IsKnownPart(archive::PartOf(entry.name))) {
      return Report("is outside the parts C, S and P and is not id.txt; no job extracts it");
    }
    if (folder) {
      CheckFolder(entry.name);
    } else {
      CheckFile(entry.name);
    }
    const std::optional<size_t> length = archive::TypicalDestinationLength(entry.name, library_folder_);
    if (length && *length > archive::kMaxPathLength) {
      Report("would be installed at a path of " + std::to_string(*length) +
             " characters below a typical target folder; the limit is 255");
    }
  }

 private:
  void Report(const std::string& problem) { problems_.push_back(label_ + ": " + problem); }

  void CheckComponents(const std::string& name) {
    if (const std::optional<std::string> problem = archive::ComponentsProblem(name)) {
      Report("its name holds " + *problem);
    }
  }

  // A folder entry makes its folder and the missing parents; a file entry is written into a
  // folder that must exist already.
  void CheckFolder(const std::string& name) {
    if (const std::optional<std::string> problem = order_.AddFolder(name)) Report(*problem);
  }

  void CheckFile(const std::string& name) {
    if (name.find('\\') == std::string::npos) {
      return Report("is a file where its part's folder should be; it cannot be written");
    }
    if (const std::optional<std::string> problem = order_.AddFile(name)) Report(*problem);
  }

  const std::string& library_folder_;
  std::vector<std::string>& problems_;
  std::string label_;
  // The passes fill the part folders, which exist before their first entry.
  WriteOrder order_{{"C", "S", "P"}};
};

}  // namespace

WriteOrder::WriteOrder(const std::vector<std::string>& existing) {
  for (const std::string& folder : existing) folders_.insert(archive::FoldCaseAsWindows(folder));
}

std::optional<std::string> WriteOrder::AddFolder(const std::string& relative) {
  const std::string folded = archive::FoldCaseAsWindows(relative);
  std::optional<std::string> problem;
  if (files_.count(folded) != 0) problem = "a file of the same name comes earlier";
  for (size_t end = folded.find('\\'); end != std::string::npos;
       end = folded.find('\\', end + 1)) {
    folders_.insert(folded.substr(0, end));
  }
  folders_.insert(folded);
  return problem;
}

std::optional<std::string> WriteOrder::AddFile(const std::string& relative) {
  const std::string folded = archive::FoldCaseAsWindows(relative);
  std::optional<std::string> problem;
  const size_t last = folded.rfind('\\');
  if (last != std::string::npos && folders_.count(folded.substr(0, last)) == 0) {
    problem = "its folder " + NameForMessage(relative.substr(0, last)) +
              " is not made by an earlier folder entry";
  } else if (folders_.count(folded) != 0) {
    problem = "a folder of the same name comes earlier";
  } else if (files_.count(folded) != 0) {
    problem = "a file of the same name (Windows ignores case) comes earlier; it would be replaced";
  }
  files_.insert(folded);
  return problem;
}

std::vector<std::string> CheckEntries(const std::vector<WalkedEntry>& entries,
                                      const std::string& library_folder) {
  std::vector<std::string> problems;
  EntryChecker checker(library_folder, problems);
  for (const WalkedEntry& entry : entries) checker.Check(entry);
  return problems;
}

}  // namespace setup_pack
