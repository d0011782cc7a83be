#include "tools/setup-pack/tree/tree_scan.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "archive/package_rules.h"
#include "host/source_folder.h"
#include "tools/setup-pack/cli/tool_error.h"
#include "tools/setup-pack/text/archive_text.h"

namespace setup_pack {
namespace {

constexpr uint64_t kMaxFileSize = static_cast<uint64_t>(std::numeric_limits<int32_t>::max());

struct NamedItem {
  host::SourceItem item;
  std::string archive_name;  // of the item alone
};

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

NamedItem NameItem(const host::SourceItem& item, const std::string& source_path) {
  const std::optional<std::string> archive_name = ToArchiveText(item.native_name);
  if (!archive_name) {
    throw ToolError(Quoted(source_path) +
                    ": the name cannot be written in ANSI (Windows-1252) text");
  }
  if (const std::optional<std::string> problem = archive::ComponentProblem(*archive_name)) {
    throw ToolError(Quoted(source_path) + ": the name holds " + *problem);
  }
  return {item, *archive_name};
}

// Windows compares names without case; two names that differ only in case would land on one
// file there.
void RequireDistinctIgnoringCase(const std::vector<NamedItem>& items, const std::string& folder) {
  std::vector<std::string> upper;
  for (const NamedItem& named : items) upper.push_back(archive::FoldCaseAsWindows(named.archive_name));
  std::sort(upper.begin(), upper.end());
  const auto twin = std::adjacent_find(upper.begin(), upper.end());
  if (twin != upper.end()) {
    throw ToolError(Quoted(folder) + " holds two names that differ only in case (" + *twin +
                    "); Windows would keep only one of them");
  }
}

void ScanFolder(const std::string& native_folder, const std::string& archive_folder,
                std::vector<TreeItem>& items) {
  std::vector<NamedItem> named;
  for (const host::SourceItem& item : host::ListSourceFolder(native_folder)) {
    named.push_back(NameItem(item, host::JoinNativePath(native_folder, item.native_name)));
  }
  RequireDistinctIgnoringCase(named, native_folder);
  std::sort(named.begin(), named.end(), [](const NamedItem& a, const NamedItem& b) {
    return a.archive_name < b.archive_name;
  });
  for (const NamedItem& entry : named) {
    TreeItem tree_item;
    tree_item.source_path = host::JoinNativePath(native_folder, entry.item.native_name);
    tree_item.name =
        archive_folder.empty() ? entry.archive_name : archive_folder + "\\" + entry.archive_name;
    tree_item.is_folder = entry.item.is_folder;
    tree_item.size = entry.item.size;
    tree_item.attributes = entry.item.attributes;
    tree_item.modified = entry.item.modified;
    if (tree_item.name.size() > archive::kMaxPathLength) {
      throw ToolError(Quoted(tree_item.source_path) + ": its archive name is " +
                      std::to_string(tree_item.name.size()) +
                      " characters long; an entry name holds at most 255");
    }
    if (!tree_item.is_folder && tree_item.size > kMaxFileSize) {
      throw ToolError(Quoted(tree_item.source_path) + " is " + std::to_string(tree_item.size) +
                      " bytes; an entry holds at most 2 GiB - 1 (" +
                      std::to_string(kMaxFileSize) + " bytes)");
    }
    items.push_back(tree_item);
    if (tree_item.is_folder) ScanFolder(tree_item.source_path, tree_item.name, items);
  }
}

}  // namespace

std::vector<TreeItem> ScanTree(const std::string& native_root) {
  host::RequireSourceFolder(native_root);
  std::vector<TreeItem> items;
  ScanFolder(native_root, std::string(), items);
  return items;
}

}  // namespace setup_pack
