#include "host/helpers.h"

#include <optional>
#include <vector>

#include "host/files.h"

namespace host {
namespace {

constexpr size_t kTempPathBufferChars = 144;
const char* const kTempFallbacks[] = {"c:\\Windows\\Temp\\", "c:\\Temp\\", "c:\\tmp\\"};
const char kLastResortFolder[] = "c:\\";

// A link is removed itself and never entered. Windows removes a directory link (junction or
// directory symbolic link) with RemoveDirectory, which takes the link away and never the target's
// contents; a file link, and every POSIX symbolic link, with DeleteFile/unlink.
void RemoveLink(const std::string& path, uint32_t attributes) {
  if ((attributes & kAttributeDirectory) != 0 && RemoveFolder(path)) return;
  DeleteFileAt(path);
}

}  // namespace

std::string TempFolderOrFallback(const std::string& asked) {
  if (!asked.empty() && FolderExists(asked)) return asked;
  for (const char* fallback : kTempFallbacks) {
    if (FolderExists(fallback)) return fallback;
  }
  return kLastResortFolder;
}

std::string GetTempFolder() {
  const std::optional<std::string> platform_path = PlatformTempPath(kTempPathBufferChars);
  return TempFolderOrFallback(platform_path ? AddBackslash(*platform_path) : std::string());
}

void DeleteTree(const std::string& folder) {
  // The items are gathered before any is deleted: removing entries while a POSIX directory
  // stream is open leaves unspecified what it reports next, and the listing is closed before the
  // recursion so that a deep tree does not hold one open listing per level.
  std::vector<FolderItem> items;
  ListFolder(folder, [&items](const FolderItem& item) {
    if (!item.name.empty() && item.name[0] != '.') items.push_back(item);
  });
  const std::string base = AddBackslash(folder);
  for (const FolderItem& item : items) {
    const std::string path = base + item.name;
    if (item.is_link) {
      RemoveLink(path, item.attributes);
    } else if ((item.attributes & kAttributeDirectory) != 0) {
      DeleteTree(path);
    } else {
      DeleteFileAt(path);
    }
  }
  RemoveFolder(folder);
}

}  // namespace host
