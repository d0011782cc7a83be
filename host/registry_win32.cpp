// The registry layer over the Win32 registry, always in its 32-bit view.
#include <algorithm>
#include <utility>

#include "host/registry.h"
#include "host/win32.h"

namespace host {
namespace {

// The development environments register themselves as 32-bit programs, so their keys under
// HKLM\SOFTWARE live in the 32-bit view. A 32-bit build sees that view by default (WOW64
// redirects it); a 64-bit build must ask for it.
constexpr REGSAM kThirtyTwoBitView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : 0;
constexpr REGSAM kReadAccess = KEY_READ | kThirtyTwoBitView;

HKEY RootHandle(RegistryRoot root) {
  return root == RegistryRoot::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

}  // namespace

struct RegistryKey::Impl {
  win32::UniqueKey key;
};

RegistryKey::RegistryKey(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
RegistryKey::RegistryKey(RegistryKey&& other) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept = default;
RegistryKey::~RegistryKey() = default;

std::optional<RegistryKey> RegistryKey::OpenForReading(RegistryRoot root,
                                                       const std::string& key_path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(RootHandle(root), key_path.c_str(), 0, kReadAccess, &key) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  auto impl = std::make_unique<Impl>();
  impl->key = win32::UniqueKey(key);
  return RegistryKey(std::move(impl));
}

std::optional<std::string> RegistryKey::QueryValueBytes(const std::string& value_name) const {
  std::string buffer(kRegistryValueBufferSize, '\0');
  DWORD type = 0;
  DWORD size = static_cast<DWORD>(buffer.size());
  const LONG status = RegQueryValueExA(impl_->key.get(), value_name.c_str(), nullptr, &type,
                                       reinterpret_cast<BYTE*>(buffer.data()), &size);
  if (status != ERROR_SUCCESS) return std::nullopt;
  buffer.resize(std::min<size_t>(size, buffer.size()));
  return buffer;
}

}  // namespace host
