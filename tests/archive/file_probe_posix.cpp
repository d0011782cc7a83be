#include <sys/stat.h>

#include <ctime>

#include "host/files.h"
#include "tests/archive/file_probe.h"

namespace testing_support {

uint32_t LastWriteDosTime(const std::string& path) {
  struct stat info;
  if (stat(host::NativePath(path).c_str(), &info) != 0) {
    return 0;
  }
  // Local time with the offset in force now, as the file layer converts it.
  const time_t now = time(nullptr);
  struct tm now_local;
  localtime_r(&now, &now_local);
  const time_t local_seconds = info.st_mtime + now_local.tm_gmtoff;
  struct tm t;
  gmtime_r(&local_seconds, &t);
  return DosDateTime(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
}

bool IsReadOnly(const std::string& path) {
  struct stat info;
  return stat(host::NativePath(path).c_str(), &info) == 0 && (info.st_mode & S_IWUSR) == 0;
}

}  // namespace testing_support
