#include "host/win32.h"
#include "tests/app/platform_fixture.h"

namespace app_test {
namespace {

HKEY RootKey(host::RegistryRoot root) {
  return root == host::RegistryRoot::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

std::optional<std::string> GetVariable(const std::string& name) {
  char buffer[32768];
  const DWORD length = GetEnvironmentVariableA(name.c_str(), buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return std::nullopt;
  return std::string(buffer, length);
}

}  // namespace

// KEY_WOW64_32KEY: the installer reads the 32-bit view, also from the 64-bit build.
ScopedRegistryValue::ScopedRegistryValue(host::RegistryRoot root, std::string key_path,
                                         const std::string& value_name, const std::string& value)
    : root_(root), key_path_(std::move(key_path)) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(RootKey(root_), key_path_.c_str(), 0, nullptr, 0,
                      KEY_WRITE | KEY_WOW64_32KEY, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return;
  }
  host::win32::UniqueKey owned(key);
  RegSetValueExA(owned.get(), value_name.c_str(), 0, REG_SZ,
                 reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
}

ScopedRegistryValue::~ScopedRegistryValue() {
  RegDeleteKeyExA(RootKey(root_), key_path_.c_str(), KEY_WOW64_32KEY, 0);
}

// GetTempPathA asks TMP first and TEMP next.
ScopedTempVariable::ScopedTempVariable(const std::string& value) {
  for (const char* name : {"TMP", "TEMP"}) {
    saved_.emplace_back(name, GetVariable(name));
    SetEnvironmentVariableA(name, value.c_str());
  }
}

ScopedTempVariable::~ScopedTempVariable() {
  for (const auto& [name, old] : saved_) {
    SetEnvironmentVariableA(name.c_str(), old ? old->c_str() : nullptr);
  }
}

uint32_t LastWriteDosDateTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  FILETIME local{};
  WORD date = 0;
  WORD time = 0;
  if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) ||
      !FileTimeToDosDateTime(&local, &date, &time)) {
    return 0;
  }
  return static_cast<uint32_t>(date) << 16 | time;
}

}  // namespace app_test
