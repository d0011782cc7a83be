// The read-only view of a whole file: its bytes, nothing for a file over the limit (not a byte
// read), an empty view for an empty file, the platform's error for a missing one.
#include "host/mapped_file.h"

#include <string>

#include <gtest/gtest.h>

#include "host/files.h"
#include "host/host_error.h"
#include "tests/support/temp_folder.h"

namespace {

using MappedFileTest = testing_support::TempFolderTest;

TEST_F(MappedFileTest, ViewsTheWholeFileOrNothingOverTheLimit) {
  std::string contents;
  for (int i = 0; i < 70'000; ++i) contents += static_cast<char>(i * 7 + i / 256);
  struct Case {
    const char* what;
    std::string contents;
    uint64_t max_size;
    bool mapped;
  };
  const Case cases[] = {
      {"a file of 70,000 bytes", contents, 100'000, true},
      {"a file just at the limit", contents, contents.size(), true},
      {"a file one byte over the limit", contents, contents.size() - 1, false},
      {"an empty file", "", 100, false},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = temp_.Sub("file" + std::to_string(index++) + ".bin");
    testing_support::WriteTextFile(path, c.contents);
    const host::MappedFile view = host::MappedFile::Open(path, c.max_size);
    EXPECT_EQ(view.file_size(), c.contents.size());
    if (c.mapped) {
      ASSERT_EQ(view.size(), c.contents.size());
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(view.data()), view.size()), c.contents);
    } else {
      EXPECT_EQ(view.size(), 0u);
    }
  }
  // A view moved on keeps the mapping; the one moved from is empty.
  host::MappedFile first = host::MappedFile::Open(temp_.Sub("file0.bin"), 100'000);
  host::MappedFile second = std::move(first);
  EXPECT_EQ(first.size(), 0u);
  ASSERT_EQ(second.size(), contents.size());
  EXPECT_EQ(second.data()[69'999], static_cast<uint8_t>(contents[69'999]));
}

TEST_F(MappedFileTest, AMissingFileIsTheErrorOfThePlatform) {
  const std::string path = temp_.Sub("missing.bin");
  try {
    host::MappedFile::Open(path, 100);
    ADD_FAILURE() << "no error";
  } catch (const host::HostError& error) {
    const std::string text = error.what();
    EXPECT_EQ(text.rfind("Cannot read file \"" + host::NativePath(path) + "\". ", 0), 0u) << text;
  }
}

}  // namespace
