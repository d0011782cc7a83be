#include "tests/host/test_registry_keys_win32.h"

#include <utility>

#include <gtest/gtest.h>

namespace testing_support {
namespace {

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

ScopedRegistryKey::ScopedRegistryKey(host::RegistryRoot root, RegistryView view, std::string path)
    : root_(RootHandle(root)), view_(ViewFlag(view)), path_(std::move(path)) {
  DeleteTree();
  CreateKey(root_, view_, path_);
}

ScopedRegistryKey::~ScopedRegistryKey() { DeleteTree(); }

void ScopedRegistryKey::SetValue(const std::string& subkey, const std::string& name, DWORD type,
                                 const std::string& bytes) {
  const std::string path = subkey.empty() ? path_ : path_ + "\\" + subkey;
  const host::win32::UniqueKey key = CreateKey(root_, view_, path);
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
  if (RegOpenKeyExA(root_, ParentOf(path_).c_str(), 0, KEY_ALL_ACCESS | view_, &parent) !=
      ERROR_SUCCESS) {
    return;
  }
  const host::win32::UniqueKey owned(parent);
  RegDeleteTreeA(owned.get(), LeafOf(path_).c_str());
}

}  // namespace testing_support
