#include <sys/stat.h>

#include <cstdlib>
#include <ctime>

#include "host/files.h"
#include "host/registry_posix.h"
#include "tests/support/platform_support.h"

namespace testing_support {
namespace {

constexpr uint32_t kRegistryString = 1;  // REG_SZ

std::optional<std::string> ReadVariable(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

}  // namespace

std::optional<uint32_t> LastWriteLocalDosTime(const std::string& path) {
  struct stat info {};
  if (stat(host::NativePath(path).c_str(), &info) != 0) return std::nullopt;
  const time_t now = time(nullptr);
  struct tm now_local {};
  localtime_r(&now, &now_local);
  const time_t local_seconds = info.st_mtime + now_local.tm_gmtoff;
  struct tm t {};
  if (gmtime_r(&local_seconds, &t) == nullptr || t.tm_year < 80 || t.tm_year > 207) {
    return std::nullopt;
  }
  return DosDateTime(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
}

bool IsReadOnly(const std::string& path) {
  struct stat info {};
  return stat(host::NativePath(path).c_str(), &info) == 0 && (info.st_mode & S_IWUSR) == 0;
}

ScopedTempEnvironment::ScopedTempEnvironment(const std::string& folder) {
  saved_.emplace_back("TMPDIR", ReadVariable("TMPDIR"));
  setenv("TMPDIR", host::NativePath(folder).c_str(), 1);
}

ScopedTempEnvironment::~ScopedTempEnvironment() {
  for (const auto& [name, value] : saved_) {
    if (value) {
      setenv(name.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }
}

ScopedRegistryKey::ScopedRegistryKey(host::RegistryRoot root, std::string path,
                                     RegistryView view)
    : root_(root), view_(view), path_(std::move(path)) {
  host::fake_registry::CreateKey(root_, path_);
}

ScopedRegistryKey::~ScopedRegistryKey() { DeleteTree(); }

void ScopedRegistryKey::SetValue(const std::string& subkey, const std::string& name,
                                 uint32_t /*type*/, const std::string& bytes) {
  host::fake_registry::SetValue(root_, subkey.empty() ? path_ : path_ + "\\" + subkey, name,
                                bytes);
}

void ScopedRegistryKey::SetString(const std::string& subkey, const std::string& name,
                                  const std::string& text) {
  SetValue(subkey, name, kRegistryString, text + '\0');
}

void ScopedRegistryKey::DeleteTree() { host::fake_registry::Clear(); }

}  // namespace testing_support
