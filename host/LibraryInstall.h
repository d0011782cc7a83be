// The lookup of an installed Delphi or C++Builder development environment in the registry: one
// TComponentInstall per environment name and major version. Every registry reading takes place in
// Create; nothing is held open afterwards. A missing key or value reads as an empty string, so an
// environment that is not installed gives an object with an empty root folder.
//
// Keys read (in the registry's 32-bit view, see host/registry.h), with
//   key path = "SOFTWARE\Borland\" + environment name + "\" + version number + ".0":
//   HKEY_LOCAL_MACHINE\<key path>          "RootDir", and "Version" or "SKU"
//   HKEY_CURRENT_USER\<key path>\Library   "Package DPL Output"
#pragma once

#include <cstdint>
#include <string>

#include "host/registry.h"

namespace host {

class TComponentInstall {
 public:
  // Builds the object for `environment_name` ("Delphi", "C++Builder", or anything else) and major
  // version `version_number`, and performs every registry reading:
  //   root folder      HKLM "RootDir"
  //   package output   HKCU "<key path>\Library" "Package DPL Output", else
  //                    AddBackslash(root folder) + "Lib"
  //   version text     HKLM "Version" for Delphi or versions above 3, else HKLM "SKU"
  //   path macro       "$(DELPHI)" / "$(BCB)" for versions above 3, else empty
  // "Delphi" is recognised with the letters a to z in any case.
  static TComponentInstall Create(const std::string& environment_name, int32_t version_number);

  // A key beginning with a backslash is taken relative to the key path (key path + key); any
  // other key is returned unchanged.
  std::string ResolveKey(const std::string& key) const;

  // One value as text: the value's bytes up to the first NUL or up to the count the registry
  // returned (at most 4097), whatever its type; an expandable string is not expanded. Empty on
  // any failure: missing key, missing value, a value larger than 4097 bytes. Never throws.
  std::string ReadRegistryString(RegistryRoot root, const std::string& key,
                                 const std::string& value_name) const;

  const std::string& KeyPath() const { return key_path_; }
  const std::string& RootFolder() const { return root_folder_; }
  const std::string& PackageOutputFolder() const { return package_output_folder_; }
  const std::string& VersionText() const { return version_text_; }
  bool IsDelphi() const { return is_delphi_; }
  const std::string& EnvironmentName() const { return environment_name_; }
  int32_t VersionNumber() const { return version_number_; }
  bool Installed() const { return installed_; }
  const std::string& PathMacro() const { return path_macro_; }

 private:
  TComponentInstall() = default;

  std::string key_path_;
  std::string root_folder_;
  std::string package_output_folder_;
  std::string version_text_;
  bool is_delphi_ = false;
  std::string environment_name_;
  int32_t version_number_ = 0;
  bool installed_ = false;
  std::string path_macro_;
};

}  // namespace host
