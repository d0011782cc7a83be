#include "tests/support/temp_folder.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

#include "host/files.h"

namespace fs = std::filesystem;

namespace testing_support {
namespace {

// Read-only items would stop remove_all on Windows; make everything writable first. Links are
// not followed, so nothing outside the folder is touched.
void MakeWritable(const fs::path& root) {
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code ignored;
    if (!it->is_symlink(ignored)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }
  fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ec);
}

}  // namespace

TempFolder::TempFolder() {
  static std::atomic<unsigned> counter{0};
  // Test programs run side by side, each counting from 0: a random part per process keeps their
  // folders apart.
  static const unsigned process_part = std::random_device{}();
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  std::ostringstream name;
  name << "setup-test-" << now << "-" << std::hex << process_part << std::dec << "-" << counter++;
  const fs::path folder = fs::temp_directory_path() / name.str();
  fs::create_directories(folder);
  path_ = folder.string();
}

TempFolder::~TempFolder() {
  std::error_code ec;
  MakeWritable(path_);
  fs::remove_all(path_, ec);
}

std::string TempFolder::Sub(const std::string& relative) const { return path_ + "\\" + relative; }

void WriteTextFile(const std::string& path, const std::string& contents) {
  std::ofstream out(host::NativePath(path), std::ios::binary | std::ios::trunc);
  out << contents;
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(host::NativePath(path), std::ios::binary);
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

}  // namespace testing_support
