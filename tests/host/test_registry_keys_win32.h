// Real registry keys for one test, in a chosen view, removed with everything below them when the
// test ends. Windows builds only.
#pragma once

#include <string>

#include "host/registry.h"
#include "host/win32.h"

namespace testing_support {

enum class RegistryView { kThirtyTwoBit, kSixtyFourBit };

class ScopedRegistryKey {
 public:
  // Creates `path` under `root` in `view`, after removing whatever an earlier, interrupted run
  // left there. Fails the test (ADD_FAILURE) when the key cannot be created.
  ScopedRegistryKey(host::RegistryRoot root, RegistryView view, std::string path);
  ~ScopedRegistryKey();  // deletes the key and everything below it
  ScopedRegistryKey(const ScopedRegistryKey&) = delete;
  ScopedRegistryKey& operator=(const ScopedRegistryKey&) = delete;

  const std::string& path() const { return path_; }

  // Sets a value in the key or in `subkey` below it (created as needed; empty for the key
  // itself) with the given type and raw bytes.
  void SetValue(const std::string& subkey, const std::string& name, DWORD type,
                const std::string& bytes);
  // A REG_SZ value: the characters and the closing NUL.
  void SetString(const std::string& subkey, const std::string& name, const std::string& text);

 private:
  void DeleteTree();

  HKEY root_;
  REGSAM view_;
  std::string path_;
};

}  // namespace testing_support
