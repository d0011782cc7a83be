// What the job tests need from the platform beyond the installer's own host layer: registry
// fixtures, a temporary-folder variable pointed elsewhere, and a file's stored date read back.
// One implementation file per platform.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/registry.h"

namespace app_test {

// Writes a string value into the registry view the installer reads (on Windows the real registry,
// 32-bit view; on POSIX the in-process stand-in) and removes the key again when destroyed.
class ScopedRegistryValue {
 public:
  ScopedRegistryValue(host::RegistryRoot root, std::string key_path, const std::string& value_name,
                      const std::string& value);
  ~ScopedRegistryValue();
  ScopedRegistryValue(const ScopedRegistryValue&) = delete;
  ScopedRegistryValue& operator=(const ScopedRegistryValue&) = delete;

 private:
  host::RegistryRoot root_;
  std::string key_path_;
};

// Points the variables the platform's temporary folder comes from (TMPDIR on POSIX, TMP and TEMP
// on Windows) at `value` and restores them when destroyed. `value` is in native spelling.
class ScopedTempVariable {
 public:
  explicit ScopedTempVariable(const std::string& value);
  ~ScopedTempVariable();
  ScopedTempVariable(const ScopedTempVariable&) = delete;
  ScopedTempVariable& operator=(const ScopedTempVariable&) = delete;

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// The file's last-write time as a DOS date-time in local time, converted with the time-zone
// offset in force now (the rule the installer writes by). 0 when it cannot be read.
uint32_t LastWriteDosDateTime(const std::string& path);

}  // namespace app_test
