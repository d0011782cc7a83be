// A stand-in "Setup.exe" for the job tests: reports the current folder it was started in, then
// stays running until the test releases it.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <thread>

#include "tests/app/setup_child_protocol.h"

namespace fs = std::filesystem;

int main() {
  const fs::path here = fs::current_path();
  {
    // Written under another name and renamed, so the test never reads a half-written file.
    std::ofstream out(here / "child-started.tmp", std::ios::binary | std::ios::trunc);
    out << here.string();
  }
  std::error_code ignored;
  fs::rename(here / "child-started.tmp", here / app_test::kStartedFile, ignored);

  // A test that dies before releasing the child must not leave it running for ever.
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(5);
  while (!fs::exists(here / app_test::kReleaseFile, ignored) &&
         std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return 0;
}
