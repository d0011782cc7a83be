// POSIX names may hold a backslash; the file layer spells it with kLiteralBackslash, so that such
// a name survives the way through the layer and back, and DeleteTree removes it like any other.
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "host/files.h"
#include "host/helpers.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

TEST(NativeSpellingTest, APosixPathWithBackslashesGoesThereAndBack) {
  for (const std::string native : {"/tmp/a\\b/c.txt", "rel\\ative", "\\", "/", "plain/path"}) {
    SCOPED_TRACE(native);
    EXPECT_EQ(host::NativePath(host::FromNativePath(native)), native);
  }
  EXPECT_EQ(host::FromNativePath("/tmp/a\\b"), std::string("\\tmp\\a") + host::kLiteralBackslash + "b");
}

using NativeSpellingFolderTest = testing_support::TempFolderTest;

TEST_F(NativeSpellingFolderTest, DeleteTreeRemovesNamesHoldingABackslash) {
  const std::string folder = temp_.Sub("product");
  const fs::path native = host::NativePath(folder);
  fs::create_directories(native / "sub\\folder");
  std::ofstream(native / "a\\b.txt") << "x";
  std::ofstream(native / "sub\\folder" / "c.txt") << "y";
  host::DeleteTree(folder);
  EXPECT_FALSE(fs::exists(native));
}

}  // namespace
