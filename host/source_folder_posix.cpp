#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>

#include "host/files.h"
#include "host/source_folder.h"
#include "host/host_error.h"

namespace host {
namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string ErrnoText(int error) { return std::strerror(error); }

SourceItem DescribeItem(const std::string& folder, const char* name) {
  const std::string path = JoinNativePath(folder, name);
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0) {
    throw HostError("Cannot read " + Quoted(path) + ". " + ErrnoText(errno));
  }
  const bool is_link = S_ISLNK(status.st_mode);
  if (is_link && stat(path.c_str(), &status) != 0) {
    throw HostError("Cannot pack " + Quoted(path) + ". It is a link that leads nowhere: " + ErrnoText(errno));
  }
  SourceItem item;
  item.native_name = name;
  item.modified = LocalDosDateTimeOf(status.st_mtime);
  if (S_ISDIR(status.st_mode)) {
    if (is_link) {
      throw HostError("Cannot pack " + Quoted(path) + ". It is a link to a folder; links to folders are not followed.");
    }
    item.is_folder = true;
    item.attributes = 0x10;
  } else if (S_ISREG(status.st_mode)) {
    item.size = static_cast<uint64_t>(status.st_size);
    item.attributes = (status.st_mode & S_IWUSR) != 0 ? 0 : 0x01;
  } else {
    throw HostError("Cannot pack " + Quoted(path) + ". It is neither a regular file nor a folder.");
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
    throw HostError("Cannot read the folder " + Quoted(native_path) + ". " + ErrnoText(errno));
  }
  if (!S_ISDIR(status.st_mode)) throw HostError("Cannot read the folder " + Quoted(native_path) + ". It is not a folder.");
}

std::vector<SourceItem> ListSourceFolder(const std::string& native_folder) {
  std::unique_ptr<DIR, DirCloser> dir(opendir(native_folder.c_str()));
  if (!dir) {
    throw HostError("Cannot list the folder " + Quoted(native_folder) + ". " + ErrnoText(errno));
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
    throw HostError("Cannot list the folder " + Quoted(native_folder) + ". " + ErrnoText(errno));
  }
  return items;
}

std::string JoinNativePath(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

}  // namespace host
