// The registry stand-in for platforms without one: an in-process table of keys and values that
// tests fill. Names compare case-insensitively (a to z only), as the Windows registry compares
// them for the names this program uses.
#include <map>
#include <mutex>
#include <utility>

#include "host/helpers.h"
#include "host/registry_posix.h"

namespace host {
namespace {

using ValueTable = std::map<std::string, std::string>;  // upper-cased value name -> raw bytes
using KeyTable = std::map<std::pair<RegistryRoot, std::string>, ValueTable>;  // upper-cased path

struct FakeRegistry {
  std::mutex mutex;
  KeyTable keys;
};

FakeRegistry& Registry() {
  static FakeRegistry registry;
  return registry;
}

// A key exists when it was created itself or when a key below it was (creating a key creates
// its parents, as on Windows). The empty path is the root itself.
bool KeyExists(const KeyTable& keys, RegistryRoot root, const std::string& upper_path) {
  if (upper_path.empty()) return true;
  for (auto it = keys.lower_bound({root, upper_path}); it != keys.end(); ++it) {
    const std::string& found = it->first.second;
    if (it->first.first != root || found.compare(0, upper_path.size(), upper_path) != 0) break;
    if (found.size() == upper_path.size() || found[upper_path.size()] == '\\') return true;
  }
  return false;
}

}  // namespace

struct RegistryKey::Impl {
  RegistryRoot root;
  std::string upper_path;
};

RegistryKey::RegistryKey(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
RegistryKey::RegistryKey(RegistryKey&& other) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept = default;
RegistryKey::~RegistryKey() = default;

std::optional<RegistryKey> RegistryKey::OpenForReading(RegistryRoot root,
                                                       const std::string& key_path) {
  std::string upper_path = UpperCaseAscii(key_path);
  FakeRegistry& registry = Registry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  if (!KeyExists(registry.keys, root, upper_path)) return std::nullopt;
  return RegistryKey(std::make_unique<Impl>(Impl{root, std::move(upper_path)}));
}

std::optional<std::string> RegistryKey::QueryValueBytes(const std::string& value_name) const {
  FakeRegistry& registry = Registry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  const auto key = registry.keys.find({impl_->root, impl_->upper_path});
  if (key == registry.keys.end()) return std::nullopt;
  const auto value = key->second.find(UpperCaseAscii(value_name));
  if (value == key->second.end()) return std::nullopt;
  // Windows answers a value that does not fit the caller's buffer with ERROR_MORE_DATA.
  if (value->second.size() > kRegistryValueBufferSize) return std::nullopt;
  return value->second;
}

namespace fake_registry {

void Clear() {
  FakeRegistry& registry = Registry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  registry.keys.clear();
}

void SetValue(RegistryRoot root, const std::string& key_path, const std::string& value_name,
              const std::string& bytes) {
  FakeRegistry& registry = Registry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  registry.keys[{root, UpperCaseAscii(key_path)}][UpperCaseAscii(value_name)] = bytes;
}

void CreateKey(RegistryRoot root, const std::string& key_path) {
  FakeRegistry& registry = Registry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  registry.keys[{root, UpperCaseAscii(key_path)}];
}

}  // namespace fake_registry
}  // namespace host
