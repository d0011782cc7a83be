// The registry layer: open a key for reading, query one value's raw bytes, close the key.
// On Windows the real registry, always in its 32-bit view (the 64-bit build asks for it with
// KEY_WOW64_32KEY). On POSIX an in-process stand-in (host/registry_posix.h).
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace host {

enum class RegistryRoot { kLocalMachine, kCurrentUser };

// The size of the buffer a value is queried into.
constexpr size_t kRegistryValueBufferSize = 4097;

class RegistryKey {
 public:
  // Opens `key_path` (backslash-separated, no leading backslash) under `root` for reading.
  // None when it cannot be opened.
  static std::optional<RegistryKey> OpenForReading(RegistryRoot root, const std::string& key_path);

  RegistryKey(RegistryKey&& other) noexcept;
  RegistryKey& operator=(RegistryKey&& other) noexcept;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  ~RegistryKey();  // closes the key

  // Queries the value into a buffer of kRegistryValueBufferSize bytes, whatever its type, and
  // returns the bytes the platform returned. None on any failure (missing value, too large).
  std::optional<std::string> QueryValueBytes(const std::string& value_name) const;

 private:
  struct Impl;
  explicit RegistryKey(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace host
