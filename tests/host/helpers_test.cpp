#include "host/helpers.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/files.h"
#include "tests/host/platform_probe.h"
#include "tests/support/platform_support.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using host_test::IsWindows;
using testing_support::TempFolderTest;
using testing_support::WriteTextFile;

// ---- Strings ----

TEST(AddBackslashTest, AppendsOnlyWhenMissing) {
  struct Case {
    const char* name;
    std::string path;
    std::string expected;
  };
  const Case cases[] = {
      {"drive root keeps its backslash", "c:\\", "c:\\"},
      {"folder gets one", "c:\\x", "c:\\x\\"},
      {"empty stays empty", "", ""},
      {"relative name gets one", "Quillon", "Quillon\\"},
      {"a slash is not a backslash", "c:/x/", "c:/x/\\"},
      {"two backslashes stay two", "c:\\x\\\\", "c:\\x\\\\"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(host::AddBackslash(c.path), c.expected);
  }
}

TEST(UpperCaseAsciiTest, ChangesOnlyTheLettersAToZ) {
  struct Case {
    const char* name;
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      {"whole alphabet", "abcdefghijklmnopqrstuvwxyz", "ABCDEFGHIJKLMNOPQRSTUVWXYZ"},
      {"mixed with digits and separators", "c\\Lib\\x_1.dcu", "C\\LIB\\X_1.DCU"},
      {"neighbours of the letter ranges", "`{@[", "`{@["},
      {"bytes from 0x80 stay", "\xe4\xf6\xfc\xe9\xff", "\xe4\xf6\xfc\xe9\xff"},
      {"NUL bytes stay in place", std::string("a\0b", 3), std::string("A\0B", 3)},
      {"empty", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(host::UpperCaseAscii(c.text), c.expected);
  }
}

// ---- Temporary folder ----

using TempFolderChoiceTest = TempFolderTest;

TEST_F(TempFolderChoiceTest, GetTempFolderIsThePlatformsFolderEndingInABackslash) {
  const std::string folder = host::GetTempFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '\\');
  EXPECT_TRUE(host::FolderExists(folder)) << folder;
  const std::optional<std::string> platform = host::PlatformTempPath(144);
  ASSERT_TRUE(platform.has_value());
  EXPECT_EQ(folder, host::AddBackslash(*platform));
}

TEST_F(TempFolderChoiceTest, PlatformTempPathMustFitTheBufferWithItsNul) {
  const testing_support::ScopedTempEnvironment environment(temp_.path());
  // Both platforms answer with the folder and a trailing separator.
  const std::string expected = host::AddBackslash(temp_.path());
  struct Case {
    const char* name;
    size_t buffer_chars;
    bool fits;
  };
  const Case cases[] = {
      {"room for the NUL", expected.size() + 1, true},
      {"plenty of room", expected.size() + 100, true},
      {"no room for the NUL", expected.size(), false},
      {"far too small", 3, false},
      {"no buffer", 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<std::string> path = host::PlatformTempPath(c.buffer_chars);
    ASSERT_EQ(path.has_value(), c.fits);
    if (c.fits) {
      EXPECT_EQ(*path, expected);
    }
  }
}

// On POSIX a drive letter means nothing, so "c:\Temp\" is a folder "c:/Temp" below the current
// folder: the test makes its fallbacks inside its own folder. On Windows they are the machine's
// folders, and every Windows (and Wine prefix) has c:\Windows\Temp.
TEST_F(TempFolderChoiceTest, FallsBackInTheDocumentedOrder) {
  const host_test::ScopedCurrentFolder current(temp_.path());
  const std::string asked_existing = host::AddBackslash(temp_.path());
  const std::string asked_missing = temp_.Sub("missing\\");
  struct Case {
    const char* name;
    std::string asked;
    std::vector<std::string> posix_fallbacks_made;
    std::string expected_posix;
    std::string expected_windows;
  };
  const Case cases[] = {
      {"asked folder exists",
       asked_existing,
       {"c:/Windows/Temp", "c:/Temp", "c:/tmp"},
       asked_existing,
       asked_existing},
      {"nothing exists: c:\\ untested", asked_missing, {}, "c:\\", "c:\\Windows\\Temp\\"},
      {"nothing asked", "", {}, "c:\\", "c:\\Windows\\Temp\\"},
      {"only c:\\tmp", asked_missing, {"c:/tmp"}, "c:\\tmp\\", "c:\\Windows\\Temp\\"},
      {"c:\\Temp before c:\\tmp",
       asked_missing,
       {"c:/tmp", "c:/Temp"},
       "c:\\Temp\\",
       "c:\\Windows\\Temp\\"},
      {"c:\\Windows\\Temp first",
       asked_missing,
       {"c:/tmp", "c:/Temp", "c:/Windows/Temp"},
       "c:\\Windows\\Temp\\",
       "c:\\Windows\\Temp\\"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!IsWindows()) {
      fs::remove_all("c:");
      for (const std::string& folder : c.posix_fallbacks_made) fs::create_directories(folder);
    }
    EXPECT_EQ(host::TempFolderOrFallback(c.asked),
              IsWindows() ? c.expected_windows : c.expected_posix);
  }
}

TEST_F(TempFolderChoiceTest, GetTempFolderFallsBackWhenThePathDoesNotFit) {
  // 150 characters of name alone: the answer cannot fit 144 characters with its NUL.
  const std::string long_folder = temp_.Sub(std::string(150, 'x'));
  fs::create_directories(host::NativePath(long_folder));
  const testing_support::ScopedTempEnvironment environment(long_folder);
  const host_test::ScopedCurrentFolder current(temp_.path());
  if (!IsWindows()) fs::create_directories("c:/Temp");
  EXPECT_FALSE(host::PlatformTempPath(144).has_value());
  EXPECT_EQ(host::GetTempFolder(), IsWindows() ? "c:\\Windows\\Temp\\" : "c:\\Temp\\");
}

// ---- DeleteTree ----

// Everything below the test folder, as sorted installer-spelled relative paths. Links are listed
// and not entered.
std::vector<std::string> Contents(const std::string& root) {
  std::vector<std::string> found;
  const fs::path base(host::NativePath(root));
  for (auto it = fs::recursive_directory_iterator(base); it != fs::recursive_directory_iterator();
       ++it) {
    std::string relative = it->path().lexically_relative(base).generic_string();
    std::replace(relative.begin(), relative.end(), '/', '\\');
    found.push_back(relative);
  }
  std::sort(found.begin(), found.end());
  return found;
}

struct TreeItem {
  std::string path;  // below the tree; a trailing backslash makes a folder
  uint32_t attributes = 0;
};

void MakeTree(const std::string& root, const std::vector<TreeItem>& items) {
  fs::create_directories(host::NativePath(root));
  for (const TreeItem& item : items) {
    const std::string path = root + "\\" + item.path;
    if (item.path.back() == '\\') {
      fs::create_directories(host::NativePath(path));
    } else {
      fs::create_directories(fs::path(host::NativePath(path)).parent_path());
      WriteTextFile(path, "contents of " + item.path);
      ASSERT_TRUE(fs::is_regular_file(host::NativePath(path))) << path;
    }
    if (item.attributes != 0) {
      ASSERT_TRUE(host::SetAttributes(path, item.attributes)) << path;
    }
  }
}

using DeleteTreeTest = TempFolderTest;

TEST_F(DeleteTreeTest, DeletesWhatItCanAndSkipsDotNames) {
  struct Case {
    const char* name;
    std::vector<TreeItem> items;
    bool trailing_backslash;
    std::vector<std::string> left_posix;
    std::vector<std::string> left_windows;
  };
  const Case cases[] = {
      {"nested folders and files all go",
       {{"a.txt"}, {"sub\\b.txt"}, {"sub\\deeper\\c.dcu"}, {"empty\\"}},
       false,
       {},
       {}},
      {"named with a trailing backslash", {{"a.txt"}, {"sub\\b.txt"}}, true, {}, {}},
      {"a file named .config keeps itself and its folder",
       {{".config"}, {"a.txt"}, {"sub\\b.txt"}},
       false,
       {"tree", "tree\\.config"},
       {"tree", "tree\\.config"}},
      {"a folder named with a dot is skipped too",
       {{"sub\\.git\\HEAD"}, {"sub\\x.txt"}, {"y.txt"}},
       false,
       {"tree", "tree\\sub", "tree\\sub\\.git", "tree\\sub\\.git\\HEAD"},
       {"tree", "tree\\sub", "tree\\sub\\.git", "tree\\sub\\.git\\HEAD"}},
      {"hidden and system files go",
       {{"h.sys", host::kAttributeHidden | host::kAttributeSystem}, {"sub\\a.txt"}},
       false,
       {},
       {}},
      // Windows refuses to delete a read-only file, and its folder then stays. On POSIX the
      // read-only bit only takes the file's write permission, and unlink asks the folder's.
      {"a read-only file",
       {{"r.txt", host::kAttributeReadOnly}, {"sub\\b.txt"}},
       false,
       {},
       {"tree", "tree\\r.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string tree = temp_.Sub("tree");
    MakeTree(tree, c.items);
    host::DeleteTree(c.trailing_backslash ? tree + "\\" : tree);
    EXPECT_EQ(Contents(temp_.path()), IsWindows() ? c.left_windows : c.left_posix);
    host::SetAttributes(tree + "\\r.txt", host::kAttributeNormal);
    std::error_code ignored;
    fs::remove_all(host::NativePath(tree), ignored);
  }
}

TEST_F(DeleteTreeTest, AFolderThatDoesNotExistChangesNothing) {
  WriteTextFile(temp_.Sub("sibling.txt"), "stays");
  host::DeleteTree(temp_.Sub("missing"));
  host::DeleteTree(temp_.Sub("missing\\deeper\\"));
  EXPECT_EQ(Contents(temp_.path()), std::vector<std::string>{"sibling.txt"});
}

// Right below a drive root the parent is "c:\", and "c:" alone would mean the drive's current
// folder: the tree goes whole whatever the current folder on that drive is.
TEST_F(DeleteTreeTest, AFolderRightBelowADriveRootGoesWithTheCurrentFolderOnThatDrive) {
  if (!IsWindows()) GTEST_SKIP() << "drive roots exist on Windows only";
  // Named after the test's own temporary folder, so that parallel runs never share it.
  const std::string tree = "C:\\" + temp_.path().substr(temp_.path().find_last_of('\\') + 1);
  MakeTree(tree, {{"a.txt"}, {"sub\\b.txt"}, {"empty\\"}});
  const host_test::ScopedCurrentFolder current("C:\\windows");
  host::DeleteTree(tree);
  EXPECT_FALSE(host::FolderExists(tree));
  std::error_code ignored;
  fs::remove_all(host::NativePath(tree), ignored);
}

TEST_F(DeleteTreeTest, NeverDeletesThroughALinkedFolder) {
  struct Case {
    const char* name;
    std::string link;    // below the test folder
    std::string target;  // below the test folder
  };
  const Case cases[] = {
      {"link to a folder outside the tree", "tree\\sub\\outside-link", "outside"},
      {"link looping back to the tree", "tree\\sub\\loop", "tree"},
  };
  const std::vector<std::string> outside_intact = {"outside", "outside\\keep.txt",
                                                   "outside\\nested", "outside\\nested\\keep.dcu"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MakeTree(temp_.Sub("outside"), {{"keep.txt"}, {"nested\\keep.dcu"}});
    MakeTree(temp_.Sub("tree"), {{"a.txt"}, {"sub\\b.txt"}});
    std::string why_not;
    if (!host_test::MakeFolderLink(temp_.Sub(c.link), temp_.Sub(c.target), why_not)) {
      GTEST_SKIP() << "this platform cannot make a folder link here: " << why_not;
    }
    host::DeleteTree(temp_.Sub("tree"));
    // The link itself is removed, so the whole tree goes; what it pointed at stays whole.
    EXPECT_EQ(Contents(temp_.path()), outside_intact);
    std::error_code ignored;
    fs::remove_all(host::NativePath(temp_.Sub("tree")), ignored);
    fs::remove_all(host::NativePath(temp_.Sub("outside")), ignored);
  }
}

}  // namespace
