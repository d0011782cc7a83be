#include <gtest/gtest.h>

#include "host/win32.h"
#include "tests/support/platform_support.h"

namespace testing_support {
namespace {

std::optional<std::string> ReadVariable(const char* name) {
  char buffer[32768];
  const DWORD length = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return std::nullopt;
  return std::string(buffer, length);
}

HKEY RootHandle(host::RegistryRoot root) {
  return root == host::RegistryRoot::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

REGSAM ViewFlag(RegistryView view) {
  return view == RegistryView::kThirtyTwoBit ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
}

std::string ParentOf(const std::string& path) {
  const size_t slash = path.rfind('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string LeafOf(const std::string& path) {
  const size_t slash = path.rfind('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

host::win32::UniqueKey CreateKey(HKEY root, REGSAM view, const std::string& path) {
  HKEY key = nullptr;
  const LONG status = RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                      KEY_ALL_ACCESS | view, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) {
    ADD_FAILURE() << "cannot create test key " << path << ": " << host::win32::ErrorText(status);
    return host::win32::UniqueKey();
  }
  return host::win32::UniqueKey(key);
}

}  // namespace

std::optional<uint32_t> LastWriteLocalDosTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  FILETIME local{};
  WORD date = 0;
  WORD time = 0;
  if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) ||
      !FileTimeToDosDateTime(&local, &date, &time)) {
    return std::nullopt;
  }
  return static_cast<uint32_t>(date) << 16 | time;
}

bool IsReadOnly(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

ScopedTempEnvironment::ScopedTempEnvironment(const std::string& folder) {
  for (const char* name : {"TMP", "TEMP"}) {
    saved_.emplace_back(name, ReadVariable(name));
    SetEnvironmentVariableA(name, folder.c_str());
  }
}

ScopedTempEnvironment::~ScopedTempEnvironment() {
  for (const auto& [name, value] : saved_) {
    SetEnvironmentVariableA(name.c_str(), value ? value->c_str() : nullptr);
  }
}

ScopedRegistryKey::ScopedRegistryKey(host::RegistryRoot root, std::string path,
                                     RegistryView view)
    : root_(root), view_(view), path_(std::move(path)) {
  DeleteTree();
  CreateKey(RootHandle(root_), ViewFlag(view_), path_);
}

ScopedRegistryKey::~ScopedRegistryKey() { DeleteTree(); }

void ScopedRegistryKey::SetValue(const std::string& subkey, const std::string& name,
                                 uint32_t type, const std::string& bytes) {
  const std::string path = subkey.empty() ? path_ : path_ + "\\" + subkey;
  const host::win32::UniqueKey key = CreateKey(RootHandle(root_), ViewFlag(view_), path);
  if (!key.get()) return;
  const LONG status =
      RegSetValueExA(key.get(), name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                     static_cast<DWORD>(bytes.size()));
  if (status != ERROR_SUCCESS) {
    ADD_FAILURE() << "cannot set test value " << path << " " << name << ": "
                  << host::win32::ErrorText(status);
  }
}

void ScopedRegistryKey::SetString(const std::string& subkey, const std::string& name,
                                  const std::string& text) {
  SetValue(subkey, name, REG_SZ, text + '\0');
}

// RegDeleteTreeA takes no view flag, so the parent is opened in the view and the tree deleted
// below it by name.
void ScopedRegistryKey::DeleteTree() {
  HKEY parent = nullptr;
  if (RegOpenKeyExA(RootHandle(root_), ParentOf(path_).c_str(), 0,
                    KEY_ALL_ACCESS | ViewFlag(view_), &parent) != ERROR_SUCCESS) {
    return;
  }
  const host::win32::UniqueKey owned(parent);
  RegDeleteTreeA(owned.get(), LeafOf(path_).c_str());
}

}  // namespace testing_support
