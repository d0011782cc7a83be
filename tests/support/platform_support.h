// What tests need of the platform beside the code under test, read or set through the platform's
// own calls: a file's date and read-only state read back, the temporary-folder variables pointed
// elsewhere, and registry values where the installer reads them. One implementation file per
// platform.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/registry.h"

namespace testing_support {

// The two registry roots, by the short names the registry tests' tables use.
constexpr host::RegistryRoot kMachine = host::RegistryRoot::kLocalMachine;
constexpr host::RegistryRoot kUser = host::RegistryRoot::kCurrentUser;
// 32 or 64: part of every key the registry tests write, so that the runs of the two Windows
// builds never share one.
constexpr int32_t kBuildBits = static_cast<int32_t>(sizeof(void*) * 8);
// The key of an IDE's version, below HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER alike.
inline std::string BorlandKey(const std::string& environment, int32_t version) {
  return "SOFTWARE\\Borland\\" + environment + "\\" + std::to_string(version) + ".0";
}

// A DOS date-time: date in the high 16 bits, time in the low 16 bits, seconds in 2-second steps.
constexpr uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second) {
  return static_cast<uint32_t>(year - 1980) << 25 | static_cast<uint32_t>(month) << 21 |
         static_cast<uint32_t>(day) << 16 | static_cast<uint32_t>(hour) << 11 |
         static_cast<uint32_t>(minute) << 5 | static_cast<uint32_t>(second / 2);
}

// The file's last-write time as a local DOS date-time, converted with the time-zone offset in
// force now: the rule the installer writes by (Windows: FileTimeToLocalFileTime, then
// FileTimeToDosDateTime). None when it cannot be read or lies outside the DOS era.
std::optional<uint32_t> LastWriteLocalDosTime(const std::string& path);

// True when the file carries the read-only attribute (POSIX: no write permission for the owner).
bool IsReadOnly(const std::string& path);

// Points the variables the user's temporary folder comes from (POSIX: TMPDIR; Windows: TMP and
// TEMP, which GetTempPathA asks in that order) at `folder`, in installer spelling, for the
// object's lifetime.
class ScopedTempEnvironment {
 public:
  explicit ScopedTempEnvironment(const std::string& folder);
  ~ScopedTempEnvironment();
  ScopedTempEnvironment(const ScopedTempEnvironment&) = delete;
  ScopedTempEnvironment& operator=(const ScopedTempEnvironment&) = delete;

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// The registry views of 64-bit Windows. The POSIX stand-in has one view only.
enum class RegistryView { kThirtyTwoBit, kSixtyFourBit };

// A registry key for one test, where the installer's registry layer reads it: the real registry
// on Windows (the Wine prefix's under Wine), by default in the 32-bit view; the in-process
// stand-in on POSIX. Whatever an earlier, interrupted run left under the key is removed first,
// and the key goes with everything below it when the object does. (The stand-in belongs to the
// test process alone and is emptied whole then.) A key that cannot be written fails the test.
class ScopedRegistryKey {
 public:
  ScopedRegistryKey(host::RegistryRoot root, std::string path,
                    RegistryView view = RegistryView::kThirtyTwoBit);
  ~ScopedRegistryKey();
  ScopedRegistryKey(const ScopedRegistryKey&) = delete;
  ScopedRegistryKey& operator=(const ScopedRegistryKey&) = delete;

  const std::string& path() const { return path_; }

  // Sets a value in the key or in `subkey` below it (created as needed; empty for the key
  // itself) with a Windows value type (REG_SZ = 1, ...) and raw bytes. The stand-in keeps the
  // bytes only, as the installer reads every type.
  void SetValue(const std::string& subkey, const std::string& name, uint32_t type,
                const std::string& bytes);
  // A string value: its characters and the closing NUL, as Windows stores one.
  void SetString(const std::string& subkey, const std::string& name, const std::string& text);

 private:
  void DeleteTree();

  host::RegistryRoot root_;
  RegistryView view_;
  std::string path_;
};

}  // namespace testing_support
