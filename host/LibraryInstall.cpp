#include "host/LibraryInstall.h"

#include <exception>

#include "host/helpers.h"

namespace host {

TComponentInstall TComponentInstall::Create(const std::string& environment_name,
                                            int32_t version_number) {
  TComponentInstall install;
  install.environment_name_ = environment_name;
  install.version_number_ = version_number;
  install.is_delphi_ = UpperCaseAscii(environment_name) == "DELPHI";
  install.key_path_ =
      "SOFTWARE\\Borland\\" + environment_name + "\\" + std::to_string(version_number) + ".0";

  const std::string& key_path = install.key_path_;
  install.root_folder_ =
      install.ReadRegistryString(RegistryRoot::kLocalMachine, key_path, "RootDir");
  install.package_output_folder_ = install.ReadRegistryString(
      RegistryRoot::kCurrentUser, key_path + "\\Library", "Package DPL Output");
  if (install.package_output_folder_.empty()) {
    install.package_output_folder_ = AddBackslash(install.root_folder_) + "Lib";
  }
  install.installed_ = !install.root_folder_.empty();
  const bool has_version_value = install.is_delphi_ || version_number > 3;
  install.version_text_ = install.ReadRegistryString(RegistryRoot::kLocalMachine, key_path,
                                                     has_version_value ? "Version" : "SKU");
  if (version_number > 3) install.path_macro_ = install.is_delphi_ ? "$(DELPHI)" : "$(BCB)";
  return install;
}

std::string TComponentInstall::ResolveKey(const std::string& key) const {
  if (!key.empty() && key.front() == '\\') return key_path_ + key;
  return key;
}

std::string TComponentInstall::ReadRegistryString(RegistryRoot root, const std::string& key,
                                                  const std::string& value_name) const {
  try {
    const std::optional<RegistryKey> opened = RegistryKey::OpenForReading(root, ResolveKey(key));
    if (!opened) return std::string();
    const std::optional<std::string> bytes = opened->QueryValueBytes(value_name);
    if (!bytes) return std::string();
    return bytes->substr(0, bytes->find('\0'));
  } catch (const std::exception&) {
    // Registry readings report nothing; a failure (out of memory included) reads as empty.
    return std::string();
  }
}

}  // namespace host
