#include "host/files.h"

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/host_error.h"
#include "tests/host/platform_probe.h"
#include "tests/support/platform_support.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using host_test::IsWindows;
using testing_support::ReadWholeFile;
using testing_support::TempFolderTest;
using testing_support::WriteTextFile;

// A DOS date-time: date in the high 16 bits, time in the low 16 bits, seconds in 2-second steps.
constexpr uint32_t Dos(int year, int month, int day, int hour, int minute, int second) {
  return static_cast<uint32_t>(year - 1980) << 25 | static_cast<uint32_t>(month) << 21 |
         static_cast<uint32_t>(day) << 16 | static_cast<uint32_t>(hour) << 11 |
         static_cast<uint32_t>(minute) << 5 | static_cast<uint32_t>(second / 2);
}

// Runs `action`, which must raise a HostError whose text starts with `prefix` and goes on with the
// platform's own description.
void ExpectHostError(const std::function<void()>& action, const std::string& prefix) {
  try {
    action();
    ADD_FAILURE() << "no error raised; expected one starting with " << prefix;
  } catch (const host::HostError& error) {
    const std::string text = error.what();
    EXPECT_EQ(text.substr(0, prefix.size()), prefix);
    EXPECT_GT(text.size(), prefix.size()) << "no platform text in: " << text;
  }
}

void WriteWholeFile(const std::string& path, const std::string& contents) {
  host::OutputFile file = host::OutputFile::CreateReplacing(path);
  file.Write(contents.data(), contents.size());
  file.Close();
}

TEST(NativePathTest, TranslatesSeparatorsOnlyOnPosix) {
  struct Case {
    const char* name;
    std::string path;
    std::string posix;
    std::string windows;
  };
  const Case cases[] = {
      {"relative path", "C\\lib\\x.dcu", "C/lib/x.dcu", "C\\lib\\x.dcu"},
      {"drive letter stays as it is", "c:\\tmp\\", "c:/tmp/", "c:\\tmp\\"},
      {"slashes stay", "/tmp/a", "/tmp/a", "/tmp/a"},
      {"mixed", "/tmp/t\\Quillon\\Setup.exe", "/tmp/t/Quillon/Setup.exe",
       "/tmp/t\\Quillon\\Setup.exe"},
      {"empty", "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(host::NativePath(c.path), IsWindows() ? c.windows : c.posix);
  }
}

// ---- Writing files ----

using OutputFileTest = TempFolderTest;

TEST_F(OutputFileTest, WritesAndReplacesContents) {
  std::string large(3 * 1024 * 1024 + 17, '\0');
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7 + i / 251);
  struct Case {
    const char* name;
    std::optional<std::string> existing;
    std::vector<std::string> writes;
    std::string expected;
  };
  const Case cases[] = {
      {"new file", std::nullopt, {"hello"}, "hello"},
      {"a longer file is cut to the new contents", "a much longer old text", {"new"}, "new"},
      {"no writes leave an empty file", "old", {}, ""},
      {"writes follow each other", std::nullopt, {"ab", "", "cd"}, "abcd"},
      {"one large write", std::nullopt, {large}, large},
  };
  const std::string path = temp_.Sub("out.bin");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(host::NativePath(path));
    if (c.existing) WriteTextFile(path, *c.existing);
    host::OutputFile file = host::OutputFile::CreateReplacing(path);
    for (const std::string& piece : c.writes) file.Write(piece.data(), piece.size());
    file.Close();
    EXPECT_TRUE(ReadWholeFile(path) == c.expected) << "contents differ";
  }
}

// Error texts name the path in the platform's own spelling (the slashes of POSIX), whatever
// spelling the file layer was given.
TEST_F(OutputFileTest, CreatingFailsWithThePathInThePlatformsSpellingAndItsText) {
  fs::create_directories(host::NativePath(temp_.Sub("taken")));
  struct Case {
    const char* name;
    std::string path;
  };
  const Case cases[] = {
      {"folder missing", temp_.Sub("missing\\a.dcu")},
      {"a folder has that name", temp_.Sub("taken")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectHostError([&] { host::OutputFile::CreateReplacing(c.path); },
                    "Cannot create file \"" + host::NativePath(c.path) + "\". ");
  }
}

// Writers that must not touch what is there already create only where nothing has the name.
TEST_F(OutputFileTest, CreatingNewTouchesNothingThatIsThere) {
  fs::create_directories(host::NativePath(temp_.Sub("taken")));
  WriteTextFile(temp_.Sub("old.txt"), "old contents");
  struct Case {
    const char* name;
    std::string path;
    bool created;
  };
  const Case cases[] = {
      {"nothing has the name", temp_.Sub("new.txt"), true},
      {"a file has it", temp_.Sub("old.txt"), false},
      {"a file has it in another case (Windows)", temp_.Sub("OLD.TXT"), !IsWindows()},
      {"a folder has it", temp_.Sub("taken"), false},
      {"the folder is missing", temp_.Sub("missing\\a.txt"), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<host::OutputFile> file = host::OutputFile::CreateNew(c.path);
    ASSERT_EQ(file.has_value(), c.created);
    if (file) {
      file->Write("new", 3);
      file->Close();
      EXPECT_EQ(ReadWholeFile(c.path), "new");
    }
  }
  EXPECT_EQ(ReadWholeFile(temp_.Sub("old.txt")), "old contents");
  EXPECT_TRUE(host::FolderExists(temp_.Sub("taken")));
}

TEST_F(OutputFileTest, TheReadOnlyBitTakesAndGivesBackWriteProtection) {
  struct Case {
    const char* name;
    uint32_t attributes;
    bool protected_on_disk;
  };
  const Case cases[] = {
      {"read-only", host::kAttributeReadOnly, true},
      {"read-only archive", host::kAttributeReadOnly | host::kAttributeArchive, true},
      {"read-only hidden system",
       host::kAttributeReadOnly | host::kAttributeHidden | host::kAttributeSystem, true},
      {"zero", 0, false},
      {"normal", host::kAttributeNormal, false},
      {"archive", host::kAttributeArchive, false},
  };
  const std::string path = temp_.Sub("attributes.txt");
  WriteTextFile(path, "contents");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(host::SetAttributes(path, c.attributes));
    EXPECT_EQ(host_test::IsWriteProtected(path), c.protected_on_disk);
    ASSERT_TRUE(host::SetAttributes(path, host::kAttributeNormal));
    EXPECT_FALSE(host_test::IsWriteProtected(path));
  }
  EXPECT_EQ(ReadWholeFile(path), "contents");
  EXPECT_FALSE(host::SetAttributes(temp_.Sub("missing.txt"), host::kAttributeNormal));
}

TEST_F(OutputFileTest, AReadOnlyFileIsRefused) {
  const std::string path = temp_.Sub("locked.txt");
  WriteTextFile(path, "old");
  ASSERT_TRUE(host::SetAttributes(path, host::kAttributeReadOnly));
  ASSERT_TRUE(host_test::IsWriteProtected(path));
  if (!host_test::WriteProtectionBinds(temp_.path())) {
    GTEST_SKIP() << "this process may write any file (root on POSIX, or Wine run by root: "
                    "open() ignores the permission bits), so a read-only file cannot refuse it";
  }
  ExpectHostError([&] { host::OutputFile::CreateReplacing(path); },
                  "Cannot create file \"" + path + "\". ");
  EXPECT_EQ(ReadWholeFile(path), "old");
}

TEST_F(OutputFileTest, AReadOnlyFileMadeNormalIsReplaced) {
  const std::string path = temp_.Sub("locked.txt");
  WriteTextFile(path, "old contents");
  ASSERT_TRUE(host::SetAttributes(path, host::kAttributeReadOnly));
  ASSERT_TRUE(host::SetAttributes(path, 0));
  WriteWholeFile(path, "new");
  EXPECT_EQ(ReadWholeFile(path), "new");
  EXPECT_FALSE(host_test::IsWriteProtected(path));
}

// Whether the file is new or replaces one with other permissions, setting the attributes through
// the open file leaves it exactly as SetAttributes leaves a file of those attributes.
TEST_F(OutputFileTest, AttributesSetThroughTheOpenFileMatchSettingThemByName) {
  struct Case {
    const char* name;
    bool replaces_owner_only_file;
    uint32_t attributes;
  };
  const Case cases[] = {
      {"new, normal", false, host::kAttributeNormal},
      {"new, archive", false, host::kAttributeArchive},
      {"new, read-only", false, host::kAttributeReadOnly},
      {"replacing, archive", true, host::kAttributeArchive},
      {"replacing, read-only archive", true, host::kAttributeReadOnly | host::kAttributeArchive},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = temp_.Sub("written" + std::to_string(index));
    const std::string reference = temp_.Sub("reference" + std::to_string(index++));
    if (c.replaces_owner_only_file) {
      WriteTextFile(path, "old contents");
      fs::permissions(host::NativePath(path), fs::perms::owner_read | fs::perms::owner_write);
    }
    host::OutputFile file = host::OutputFile::CreateReplacing(path);
    file.Write("new", 3);
    EXPECT_TRUE(file.ApplyAttributes(c.attributes));
    file.Close();
    WriteTextFile(reference, "new");
    ASSERT_TRUE(host::SetAttributes(reference, c.attributes));

    EXPECT_EQ(fs::status(host::NativePath(path)).permissions(),
              fs::status(host::NativePath(reference)).permissions());
    EXPECT_EQ(host_test::IsWriteProtected(path),
              (c.attributes & host::kAttributeReadOnly) != 0);
    EXPECT_EQ(ReadWholeFile(path), "new");
  }
}

TEST_F(OutputFileTest, AFolderNamedWithItsFolderBitStaysUsable) {
  const std::string folder = temp_.Sub("folder");
  fs::create_directories(host::NativePath(folder));
  ASSERT_TRUE(host::SetAttributes(folder, host::kAttributeDirectory));
  WriteWholeFile(folder + "\\inside.txt", "x");
  EXPECT_EQ(ReadWholeFile(folder + "\\inside.txt"), "x");
}

// ---- Last-write time ----

using LastWriteTimeTest = TempFolderTest;

TEST_F(LastWriteTimeTest, RoundTripsThroughLocalTime) {
  // A zone without daylight saving time, where every local time has the one offset in force now.
  // Windows takes its zone from the system and converts both ways with the current bias.
  const host_test::ScopedTimeZone zone("XYZ-3");
  struct Case {
    const char* name;
    uint32_t dos_date_time;
  };
  const Case cases[] = {
      {"first moment of the DOS era", Dos(1980, 1, 1, 0, 0, 0)},
      {"leap day, last even second", Dos(2000, 2, 29, 23, 59, 58)},
      {"summer afternoon", Dos(2024, 7, 15, 14, 35, 52)},
      {"winter morning", Dos(2011, 12, 5, 6, 7, 8)},
      {"last moment of the DOS era", Dos(2107, 12, 31, 23, 59, 58)},
  };
  const std::string path = temp_.Sub("dated.txt");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    host::OutputFile file = host::OutputFile::CreateReplacing(path);
    file.Write("x", 1);
    EXPECT_TRUE(file.SetLastWriteTime(c.dos_date_time));
    file.Close();
    EXPECT_EQ(testing_support::LastWriteLocalDosTime(path), c.dos_date_time);
  }
}

TEST_F(LastWriteTimeTest, LocalTimeIsConvertedWithTheOffsetInForceNow) {
  struct Case {
    const char* name;
    const char* zone;
    uint32_t dos_date_time;
    int64_t expected_utc_seconds;  // worked out with date -u
  };
  const Case cases[] = {
      {"three hours east of UTC", "XYZ-3", Dos(2020, 6, 15, 12, 0, 0), 1592211600},
      {"five hours west of UTC", "ABC+5", Dos(2020, 1, 2, 3, 4, 6), 1577952246},
      // Moscow kept +4 all through 2012 and has kept +3 since 2014: a date of 2012 is converted
      // with today's +3 (09:00 UTC), as Windows does, not with the +4 of its day (08:00 UTC).
      {"a zone whose offset has changed since the date", "Europe/Moscow",
       Dos(2012, 6, 15, 12, 0, 0), 1339750800},
  };
  const std::string path = temp_.Sub("dated.txt");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const host_test::ScopedTimeZone zone(c.zone);
    if (!zone.supported()) {
      GTEST_SKIP() << "the time zone is a system setting here, not the process's own";
    }
    host::OutputFile file = host::OutputFile::CreateReplacing(path);
    ASSERT_TRUE(file.SetLastWriteTime(c.dos_date_time));
    file.Close();
    EXPECT_EQ(host_test::LastWriteUtcSeconds(path), c.expected_utc_seconds);
  }
}

TEST_F(LastWriteTimeTest, LeavesCreationAndAccessTimesAlone) {
  const std::string path = temp_.Sub("dated.txt");
  host::OutputFile file = host::OutputFile::CreateReplacing(path);
  file.Write("contents", 8);
  const std::optional<host_test::FileTimes> before = host_test::TimesOf(path);
  ASSERT_TRUE(file.SetLastWriteTime(Dos(2001, 9, 8, 7, 6, 4)));
  file.Close();
  const std::optional<host_test::FileTimes> after = host_test::TimesOf(path);
  ASSERT_TRUE(before && after);
  EXPECT_EQ(after->creation, before->creation);
  EXPECT_EQ(after->access, before->access);
  EXPECT_NE(after->write, before->write);
}

TEST_F(LastWriteTimeTest, ADateOrTimeThatDoesNotExistIsRefusedAndChangesNothing) {
  struct Case {
    const char* name;
    uint32_t dos_date_time;
  };
  const Case cases[] = {
      {"month 0", Dos(2020, 0, 10, 12, 0, 0)},
      {"month 13", Dos(2020, 13, 10, 12, 0, 0)},
      {"day 0", Dos(2020, 5, 0, 12, 0, 0)},
      {"February 30", Dos(2020, 2, 30, 12, 0, 0)},
      {"April 31", Dos(2020, 4, 31, 12, 0, 0)},
      {"hour 24", Dos(2020, 5, 10, 24, 0, 0)},
      {"minute 60", Dos(2020, 5, 10, 12, 60, 0)},
      {"second 60", Dos(2020, 5, 10, 12, 0, 60)},
      {"all bits set", 0xFFFFFFFF},
  };
  const std::string path = temp_.Sub("dated.txt");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    host::OutputFile file = host::OutputFile::CreateReplacing(path);
    file.Write("kept", 4);
    const std::optional<host_test::FileTimes> before = host_test::TimesOf(path);
    EXPECT_FALSE(file.SetLastWriteTime(c.dos_date_time));
    file.Close();
    const std::optional<host_test::FileTimes> after = host_test::TimesOf(path);
    ASSERT_TRUE(before && after);
    EXPECT_EQ(after->write, before->write);
    EXPECT_EQ(ReadWholeFile(path), "kept");
  }
}

TEST_F(LastWriteTimeTest, ReadOnlyAppliedAfterClosingKeepsTheDate) {
  const std::string path = temp_.Sub("dated.txt");
  const uint32_t stored = Dos(1999, 12, 31, 23, 58, 30);
  host::OutputFile file = host::OutputFile::CreateReplacing(path);
  file.Write("contents", 8);
  ASSERT_TRUE(file.SetLastWriteTime(stored));
  file.Close();
  ASSERT_TRUE(host::SetAttributes(path, host::kAttributeReadOnly | host::kAttributeArchive));
  EXPECT_EQ(testing_support::LastWriteLocalDosTime(path), stored);
  EXPECT_TRUE(host_test::IsWriteProtected(path));
  EXPECT_EQ(ReadWholeFile(path), "contents");
}

// ---- Reading files ----

using InputFileTest = TempFolderTest;

TEST_F(InputFileTest, SeeksReadsAndCountsTheBytes) {
  const std::string path = temp_.Sub("archive.bin");
  WriteTextFile(path, "0123456789");
  host::InputFile file = host::InputFile::OpenReadOnly(path);
  EXPECT_EQ(file.Size(), 10);
  EXPECT_EQ(file.Position(), 0);
  struct Case {
    const char* name;
    int64_t seek;
    size_t count;
    std::string expected;
    int64_t position_after;
  };
  const Case cases[] = {
      {"from the start", 0, 4, "0123", 4},
      {"from the middle", 3, 5, "34567", 8},
      {"across the end: fewer bytes", 8, 5, "89", 10},
      {"at the end: nothing", 10, 3, "", 10},
      {"beyond the end: nothing", 25, 4, "", 25},
      {"no bytes asked", 3, 0, "", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    file.Seek(c.seek);
    EXPECT_EQ(file.Position(), c.seek);
    std::string buffer(c.count + 1, '#');
    const size_t got = file.Read(buffer.data(), c.count);
    EXPECT_EQ(buffer.substr(0, got), c.expected);
    EXPECT_EQ(file.Position(), c.position_after);
  }
  file.Seek(0);
  char first[3] = {};
  char second[3] = {};
  ASSERT_EQ(file.Read(first, 3), 3u);
  ASSERT_EQ(file.Read(second, 3), 3u);
  EXPECT_EQ(std::string(second, 3), "345");
}

TEST_F(InputFileTest, ErrorsCarryThePathInThePlatformsSpellingAndItsText) {
  const std::string missing = temp_.Sub("missing.bin");
  ExpectHostError([&] { host::InputFile::OpenReadOnly(missing); },
                  "Cannot open file \"" + host::NativePath(missing) + "\". ");
  const std::string folder = temp_.Sub("folder");
  fs::create_directories(host::NativePath(folder));
  ExpectHostError([&] { host::InputFile::OpenReadOnly(folder); },
                  "Cannot open file \"" + host::NativePath(folder) + "\". ");
  const std::string path = temp_.Sub("archive.bin");
  WriteTextFile(path, "0123456789");
  host::InputFile file = host::InputFile::OpenReadOnly(path);
  ExpectHostError([&] { file.Seek(-1); }, "Cannot seek in file \"" + host::NativePath(path) + "\". ");
}

// ---- Folders ----

using FolderTest = TempFolderTest;

TEST_F(FolderTest, CreateFolderWithParentsMakesEveryMissingLevel) {
  WriteTextFile(temp_.Sub("file.txt"), "in the way");
  struct Case {
    const char* name;
    std::string path;
    bool created;
  };
  const Case cases[] = {
      {"three new levels", temp_.Sub("a\\b\\c"), true},
      {"trailing backslash", temp_.Sub("x\\y\\"), true},
      {"one more level below an existing one", temp_.Sub("a\\b\\c\\d"), true},
      {"already there", temp_.path(), true},
      {"a file is in the way", temp_.Sub("file.txt\\sub"), false},
      {"the name is a file", temp_.Sub("file.txt"), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(host::CreateFolderWithParents(c.path), c.created);
    EXPECT_EQ(host::FolderExists(c.path), c.created);
  }
  EXPECT_EQ(ReadWholeFile(temp_.Sub("file.txt")), "in the way");
}

TEST_F(FolderTest, ExistenceTellsFilesFromFolders) {
  WriteTextFile(temp_.Sub("file.txt"), "x");
  fs::create_directories(host::NativePath(temp_.Sub("folder")));
  struct Case {
    const char* name;
    std::string path;
    bool file;
    bool folder;
  };
  const Case cases[] = {
      {"file", temp_.Sub("file.txt"), true, false},
      {"folder", temp_.Sub("folder"), false, true},
      {"folder with a trailing backslash", temp_.Sub("folder\\"), false, true},
      {"missing", temp_.Sub("missing"), false, false},
      {"below a missing folder", temp_.Sub("missing\\file.txt"), false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(host::FileExists(c.path), c.file);
    EXPECT_EQ(host::FolderExists(c.path), c.folder);
  }
}

TEST_F(FolderTest, ListFolderReportsEveryItemAndItsKind) {
  WriteTextFile(temp_.Sub("a.txt"), "a");
  WriteTextFile(temp_.Sub("h.txt"), "h");
  WriteTextFile(temp_.Sub("r.txt"), "r");
  fs::create_directories(host::NativePath(temp_.Sub("sub")));
  ASSERT_TRUE(host::SetAttributes(temp_.Sub("h.txt"), host::kAttributeHidden));
  ASSERT_TRUE(host::SetAttributes(temp_.Sub("r.txt"), host::kAttributeReadOnly));
  std::map<std::string, host::FolderItem> items;
  ASSERT_TRUE(host::ListFolder(temp_.path(), [&](const host::FolderItem& item) {
    if (item.name != "." && item.name != "..") items[item.name] = item;
  }));
  // Windows reports every attribute bit; POSIX reports only the kind of item.
  struct Case {
    const char* name;
    uint32_t windows_bits;
    uint32_t posix_bits;
  };
  const Case cases[] = {
      {"a.txt", 0, 0},
      {"h.txt", host::kAttributeHidden, 0},
      {"r.txt", host::kAttributeReadOnly, 0},
      {"sub", host::kAttributeDirectory, host::kAttributeDirectory},
  };
  ASSERT_EQ(items.size(), std::size(cases));
  const uint32_t checked_bits =
      host::kAttributeDirectory | host::kAttributeHidden | host::kAttributeReadOnly;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(items.count(c.name), 1u);
    const host::FolderItem& item = items[c.name];
    EXPECT_EQ(item.attributes & checked_bits, IsWindows() ? c.windows_bits : c.posix_bits);
    EXPECT_FALSE(item.is_link);
  }
  bool visited = false;
  EXPECT_FALSE(
      host::ListFolder(temp_.Sub("missing"), [&](const host::FolderItem&) { visited = true; }));
  EXPECT_FALSE(visited);
}

TEST_F(FolderTest, DeletingAndRemovingReportFailure) {
  fs::create_directories(host::NativePath(temp_.Sub("sub")));
  WriteTextFile(temp_.Sub("sub\\file.txt"), "x");
  EXPECT_FALSE(host::RemoveFolder(temp_.Sub("sub"))) << "not empty";
  EXPECT_TRUE(host::DeleteFileAt(temp_.Sub("sub\\file.txt")));
  EXPECT_FALSE(host::DeleteFileAt(temp_.Sub("sub\\file.txt"))) << "already gone";
  EXPECT_TRUE(host::RemoveFolder(temp_.Sub("sub")));
  EXPECT_FALSE(host::FolderExists(temp_.Sub("sub")));
  EXPECT_FALSE(host::RemoveFolder(temp_.Sub("sub"))) << "already gone";
}

TEST_F(FolderTest, TheCurrentFolderCanBeSetAndRead) {
  {
    const host_test::ScopedCurrentFolder current(temp_.path());
    EXPECT_TRUE(
        fs::equivalent(host::NativePath(host::GetCurrentFolder()), host::NativePath(temp_.path())));
    WriteTextFile("relative.txt", "here");
  }
  EXPECT_EQ(ReadWholeFile(temp_.Sub("relative.txt")), "here");
  const std::string before = host::GetCurrentFolder();
  const std::string missing = temp_.Sub("missing");
  ExpectHostError([&] { host::SetCurrentFolder(missing); },
                  "Cannot change the current folder to \"" + host::NativePath(missing) + "\". ");
  EXPECT_EQ(host::GetCurrentFolder(), before);
}

}  // namespace
