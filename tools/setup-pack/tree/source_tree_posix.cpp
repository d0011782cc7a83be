#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>

#include "host/files.h"
#include "tools/setup-pack/cli/tool_error.h"
#include "tools/setup-pack/tree/source_tree.h"

namespace setup_pack {
namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string ErrnoText(int error) { return std::strerror(error); }

SourceItem DescribeItem(const std::string& folder, const char* name) {
  const std::string path = JoinNativePath(folder, name);
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0) {
    throw ToolError("cannot read " + Quoted(path) + ": " + ErrnoText(errno));
  }
  const bool is_link = S_ISLNK(status.st_mode);
  if (is_link && stat(path.c_str(), &status) != 0) {
    throw ToolError(Quoted(path) + " is a link that leads nowhere: " + ErrnoText(errno));
  }
  SourceItem item;
  item.native_name = name;
  item.modified = host::LocalDosDateTimeOf(status.st_mtime);
  if (S_ISDIR(status.st_mode)) {
    if (is_link) {
      throw ToolError(Quoted(path) + " is a link to a folder; links to folders are not followed");
    }
    item.is_folder = true;
    item.attributes = 0x10;
  } else if (S_ISREG(status.st_mode)) {
    item.size = static_cast<uint64_t>(status.st_size);
    item.attributes = (status.st_mode & S_IWUSR) != 0 ? 0 : 0x01;
  } else {
    throw ToolError(Quoted(path) + " is neither a regular file nor a folder");
  }
  return item;
}

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

void RequireSourceFolder(const std::string& native_path) {
  struct stat status {};
  if (stat(native_path.c_str(), &status) != 0) {
    throw ToolError("cannot read the folder " + Quoted(native_path) + ": " + ErrnoText(errno));
  }
  if (!S_ISDIR(status.st_mode)) throw ToolError(Quoted(native_path) + " is not a folder");
}

std::vector<SourceItem> ListSourceFolder(const std::string& native_folder) {
  std::unique_ptr<DIR, DirCloser> dir(opendir(native_folder.c_str()));
  if (!dir) {
    throw ToolError("cannot list the folder " + Quoted(native_folder) + ": " + ErrnoText(errno));
  }
  std::vector<SourceItem> items;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir.get());
    if (entry == nullptr) break;
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    items.push_back(DescribeItem(native_folder, entry->d_name));
  }
  if (errno != 0) {
    throw ToolError("cannot list the folder " + Quoted(native_folder) + ": " + ErrnoText(errno));
  }
  return items;
}

std::string JoinNativePath(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

}  // namespace setup_pack
