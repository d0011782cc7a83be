// POSIX has no registry. The POSIX build reads an in-process stand-in instead, empty at start,
// that whoever runs the jobs natively (the tests) fills with the same key and value names as on
// Windows; key and value names compare case-insensitively there, as on Windows.
#pragma once

#include <string>

#include "host/registry.h"

namespace host {
namespace fake_registry {

void Clear();
// Sets a value's raw bytes (a string value is its characters plus the closing NUL, as Windows
// stores it). Creates the key.
void SetValue(RegistryRoot root, const std::string& key_path, const std::string& value_name,
              const std::string& bytes);
// Creates an empty key.
void CreateKey(RegistryRoot root, const std::string& key_path);

}  // namespace fake_registry
}  // namespace host
