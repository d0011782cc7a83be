#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>

#include "tools/setup-pack/dos_time.h"
#include "tools/setup-pack/source_tree.h"
#include "tools/setup-pack/tool_error.h"

namespace setup_pack {
namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string ErrnoText(int error) { return std::strerror(error); }

// The offset of local time from UTC in force now, in seconds. The platform layer converts a
// stored date-time back to a file time with this same offset (as Windows does with its current
// bias), so a date survives a round trip whatever the daylight-saving state of the file's date.
int64_t LocalOffsetNow() {
  const time_t now = time(nullptr);
  struct tm local {};
  localtime_r(&now, &local);
  return local.tm_gmtoff;
}

uint32_t LocalDosDateTime(time_t modified_utc) {
  const time_t local_seconds = static_cast<time_t>(modified_utc + LocalOffsetNow());
  struct tm fields {};
  if (gmtime_r(&local_seconds, &fields) == nullptr) {
    return DosDateTimeFromCivil(CivilTime{});
  }
  return DosDateTimeFromCivil(CivilTime{fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday,
                                        fields.tm_hour, fields.tm_min, fields.tm_sec});
}

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
  item.modified = LocalDosDateTime(status.st_mtime);
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
