#include "fuzz/fuzz_scratch.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace fuzzing {

const std::string& ScratchFolder() {
  static const std::string folder = [] {
    std::filesystem::path path = std::filesystem::temp_directory_path() /
                                 ("setup-fuzz-" + std::to_string(getpid()));
    std::filesystem::create_directories(path);
    return path.string();
  }();
  return folder;
}

void EmptyScratchFolder() {
  std::error_code ec;
  for (const auto& item : std::filesystem::directory_iterator(ScratchFolder(), ec)) {
    std::filesystem::permissions(item.path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(item.path(), ec);
  }
}

bool StaysInside(const std::string& entry_name) {
  if (entry_name.empty()) return true;
  if (entry_name.front() == '/' || entry_name.front() == '\\') return false;
  size_t start = 0;
  while (start <= entry_name.size()) {
    size_t end = entry_name.find_first_of("\\/", start);
    if (end == std::string::npos) end = entry_name.size();
    const std::string component = entry_name.substr(start, end - start);
    if (component.empty() || component == "." || component == "..") return false;
    start = end + 1;
  }
  return true;
}

}  // namespace fuzzing
