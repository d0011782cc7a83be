#include "tools/setup-pack/entry_checks.h"

#include <optional>
#include <set>

#include "host/helpers.h"
#include "tools/setup-pack/archive_text.h"
#include "tools/setup-pack/package_rules.h"

namespace setup_pack {
namespace {

class EntryChecker {
 public:
  EntryChecker(const std::string& library_folder, std::vector<std::string>& problems)
      : library_folder_(library_folder), problems_(problems) {}

  void Check(const WalkedEntry& entry) {
    label_ = "entry index " + std::to_string(entry.index) + " (" + ToNativeText(entry.name) + ")";
    if (entry.name.empty()) return Report("has an empty name");
    CheckComponents(entry.name);
    const bool folder = archive::IsFolderEntry(entry.header);
    if (entry.name.find('\\') == std::string::npos && IsManifestName(entry.name)) {
      if (folder) Report("is a folder; the manifest id.txt must be a file");
      return;
    }
    if (!IsKnownPart(PartOf(entry.name))) {
      return Report("is outside the parts C, S and P and is not id.txt; no job extracts it");
    }
    const std::string upper = host::UpperCaseAscii(entry.name);
    if (folder) {
      CheckFolder(upper);
    } else {
      CheckFile(entry.name, upper);
    }
    const std::optional<size_t> length = TypicalDestinationLength(entry.name, library_folder_);
    if (length && *length > kMaxPathLength) {
      Report("would be installed at a path of " + std::to_string(*length) +
             " characters below a typical target folder; the limit is 255");
    }
  }

 private:
  void Report(const std::string& problem) { problems_.push_back(label_ + ": " + problem); }

  void CheckComponents(const std::string& name) {
    for (const std::string& component : SplitPath(name, "\\")) {
      if (const std::optional<std::string> problem = ComponentProblem(component)) {
        return Report("its name holds " + *problem);
      }
    }
  }

  // A folder entry makes its folder and the missing parents.
  void CheckFolder(const std::string& upper) {
    if (files_.count(upper) != 0) Report("a file of the same name comes earlier");
    for (size_t end = upper.find('\\'); end != std::string::npos;
         end = upper.find('\\', end + 1)) {
      folders_.insert(upper.substr(0, end));
    }
    folders_.insert(upper);
  }

  // A file entry is written into a folder that must exist already: the target of its pass (the
  // part folder) or one made by an earlier folder entry.
  void CheckFile(const std::string& name, const std::string& upper) {
    const size_t last = upper.rfind('\\');
    if (last == std::string::npos) {
      Report("is a file where its part's folder should be; it cannot be written");
    } else {
      const std::string parent = upper.substr(0, last);
      if (parent != PartOf(upper) && folders_.count(parent) == 0) {
        Report("its folder " + ToNativeText(name.substr(0, last)) +
               " is not made by an earlier folder entry");
      }
    }
    if (folders_.count(upper) != 0) Report("a folder of the same name comes earlier");
    files_.insert(upper);
  }

  const std::string& library_folder_;
  std::vector<std::string>& problems_;
  std::string label_;
  std::set<std::string> folders_;
  std::set<std::string> files_;
};

}  // namespace

std::vector<std::string> CheckEntries(const std::vector<WalkedEntry>& entries,
                                      const std::string& library_folder) {
  std::vector<std::string> problems;
  EntryChecker checker(library_folder, problems);
  for (const WalkedEntry& entry : entries) checker.Check(entry);
  return problems;
}

}  // namespace setup_pack
