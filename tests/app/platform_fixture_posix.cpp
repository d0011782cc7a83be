#include <sys/stat.h>

#include <cstdlib>
#include <ctime>

#include "host/files.h"
#include "tests/app/platform_fixture.h"

namespace app_test {

ScopedRegistryValue::ScopedRegistryValue(host::RegistryRoot root, std::string key_path,
                                         const std::string& value_name, const std::string& value)
    : root_(root), key_path_(std::move(key_path)) {
  host::fake_registry::SetValue(root_, key_path_, value_name, value + '\0');
}

// The stand-in belongs to this test process alone, so emptying it removes exactly what the test
// wrote.
ScopedRegistryValue::~ScopedRegistryValue() { host::fake_registry::Clear(); }

ScopedTempVariable::ScopedTempVariable(const std::string& value) {
  const char* old = std::getenv("TMPDIR");
  saved_.emplace_back("TMPDIR", old ? std::optional<std::string>(old) : std::nullopt);
  setenv("TMPDIR", value.c_str(), 1);
}

ScopedTempVariable::~ScopedTempVariable() {
  for (const auto& [name, old] : saved_) {
    if (old) {
      setenv(name.c_str(), old->c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }
}

uint32_t LastWriteDosDateTime(const std::string& path) {
  struct stat info {};
  if (stat(host::NativePath(path).c_str(), &info) != 0) return 0;
  const time_t now = time(nullptr);
  struct tm local_now {};
  localtime_r(&now, &local_now);
  const time_t shifted = info.st_mtime + local_now.tm_gmtoff;
  struct tm fields {};
  gmtime_r(&shifted, &fields);
  return static_cast<uint32_t>(fields.tm_year - 80) << 25 |
         static_cast<uint32_t>(fields.tm_mon + 1) << 21 |
         static_cast<uint32_t>(fields.tm_mday) << 16 | static_cast<uint32_t>(fields.tm_hour) << 11 |
         static_cast<uint32_t>(fields.tm_min) << 5 | static_cast<uint32_t>(fields.tm_sec / 2);
}

}  // namespace app_test
