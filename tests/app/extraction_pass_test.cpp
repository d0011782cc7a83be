// The extraction pass writes small new files on threads of their own. What it leaves and what it
// shows must be what the reader gives when it extracts one entry after another: these cases run
// both on the same package and the same folder, and compare the messages and every file.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/MainUnit.h"
#include "archive/Stacker.h"
#include "host/files.h"
#include "tests/app/job_fixture.h"

namespace app_test {
namespace {

using testing_support::ReadWholeFile;
using testing_support::WriteTextFile;

// Every entry through the reader's ExtractEntry, in order, until the first failure.
bool ExtractOneByOne(const std::string& prefix, const std::string& target) {
  host::CreateFolderWithParents(target);
  bool ok = true;
  archive::EntryHeader header{};
  if (archive::OpenArchive("", prefix, header)) {
    do {
      ok = archive::ExtractEntry(header, target);
    } while (ok && archive::FindNextEntry(header));
  }
  archive::CloseArchive();
  return ok;
}

// Short data as it is, longer data by its size and an FNV-1a hash.
std::string Described(const std::string& data) {
  if (data.size() <= 64) return "\"" + data + "\"";
  uint32_t hash = 2166136261u;
  for (const char c : data) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  return std::to_string(data.size()) + " bytes, hash " + std::to_string(hash);
}

// Every file and folder below `folder`, each file with its data and its read-only bit.
std::vector<std::string> Snapshot(const std::string& folder) {
  std::vector<std::string> lines;
  for (std::string relative : TreeOf(folder)) {
    if (relative.back() == '/') {
      lines.push_back(relative);
      continue;
    }
    std::string path = relative;
    for (char& c : path) c = c == '/' ? '\\' : c;
    path = folder + "\\" + path;
    lines.push_back(relative + " = " + Described(ReadWholeFile(path)) +
                    (IsReadOnly(path) ? " (read-only)" : ""));
  }
  return lines;
}

// `before` + the number in three digits + `after`.
std::string Numbered(const std::string& before, int number, const std::string& after) {
  const std::string digits = std::to_string(number);
  return before + std::string(digits.size() < 3 ? 3 - digits.size() : 0, '0') + digits + after;
}

// `count` small files named `before` + number + `after`, their data naming them as well.
std::vector<Entry> SmallFiles(const std::string& before, int count, const std::string& after) {
  std::vector<Entry> files;
  for (int i = 0; i < count; ++i) {
    const std::string name = Numbered(before, i, after);
    files.push_back(FileEntry(name, "data of " + name));
  }
  return files;
}

// `count` names, each given to two files in a row: the second one's data must stay.
std::vector<Entry> NamesTwice(const std::string& before, int count, const std::string& after) {
  std::vector<Entry> files;
  for (int i = 0; i < count; ++i) {
    const std::string name = Numbered(before, i, after);
    files.push_back(FileEntry(name, "first of " + name));
    files.push_back(FileEntry(name, "second of " + name));
  }
  return files;
}

// `count` files of 100 KiB: a dozen of them is more data than the writers hold back.
std::vector<Entry> LargeFiles(const std::string& before, int count, const std::string& after) {
  std::vector<Entry> files;
  for (int i = 0; i < count; ++i) {
    files.push_back(FileEntry(Numbered(before, i, after), Filler(100 * 1024, static_cast<uint32_t>(i))));
  }
  return files;
}

std::vector<Entry> Joined(std::vector<std::vector<Entry>> groups) {
  std::vector<Entry> all;
  for (std::vector<Entry>& group : groups) all.insert(all.end(), group.begin(), group.end());
  return all;
}

class ExtractionPassTest : public JobTest {
 protected:
  struct Outcome {
    bool ok;
    std::vector<std::string> messages;
    std::vector<std::string> files;
  };

  // Runs `pass` on the part P into a fresh target that `prepare` has filled first.
  Outcome Run(const std::function<bool(const std::string&, const std::string&)>& pass,
              const std::function<void(const std::string&)>& prepare) {
    const std::string target = temp_.Sub("target");
    EXPECT_TRUE(RemoveFolderOnceReleased(target));
    host::CreateFolderWithParents(target);
    prepare(target);
    const size_t messages_before = ui_.Messages().size();
    Outcome outcome;
    outcome.ok = pass("P", target);
    const std::vector<std::string> messages = ui_.Messages();
    outcome.messages.assign(messages.begin() + static_cast<std::ptrdiff_t>(messages_before),
                            messages.end());
    outcome.files = Snapshot(target);
    return outcome;
  }
};

TEST_F(ExtractionPassTest, LeavesAndShowsWhatExtractingOneEntryAfterAnotherDoes) {
  struct Case {
    const char* name;
    std::vector<Entry> entries;
    std::function<void(const std::string&)> prepare;
    bool ok;
    size_t files_at_least;  // in the one-by-one result: the case does what its name says
  };
  const auto nothing = [](const std::string&) {};
  const Case cases[] = {
      {"a file whose folder is missing, many files after it, one of an earlier installation",
       Joined({{FolderEntry("P\\after"), FileEntry("P\\first.txt", "first")},
               {FileEntry("P\\missing\\file.txt", "cannot be written")},
               SmallFiles("P\\after\\f", 300, ".txt")}),
       [](const std::string& target) {
         host::CreateFolderWithParents(target + "\\after");
         WriteTextFile(target + "\\after\\f150.txt", "an old copy");
       },
       false, 3},
      {"a file where a folder is, many files after it",
       Joined({{FolderEntry("P\\taken"), FolderEntry("P\\after")},
               SmallFiles("P\\before", 20, ".txt"),
               {FileEntry("P\\taken", "cannot replace a folder")},
               SmallFiles("P\\after\\f", 300, ".txt")}),
       nothing, false, 20},
      {"names twice in a row, one three times in two cases, among other files",
       Joined({SmallFiles("P\\a", 30, ".txt"), NamesTwice("P\\pair", 100, ".txt"),
               {FileEntry("P\\thrice.txt", "first"), FileEntry("P\\THRICE.TXT", "second"),
                FileEntry("P\\thrice.txt", "third")},
               SmallFiles("P\\b", 30, ".txt")}),
       nothing, true, 161},
      {"files of an earlier installation, a read-only one among them, more than the writers hold",
       Joined({{FolderEntry("P\\old")}, LargeFiles("P\\old\\big", 12, ".bin"),
               {FileEntry("P\\old\\large.bin", Filler(300 * 1024, 7))},
               SmallFiles("P\\new", 100, ".txt")}),
       [](const std::string& target) {
         host::CreateFolderWithParents(target + "\\old");
         for (int i = 0; i < 12; ++i) {
           WriteTextFile(target + Numbered("\\old\\big", i, ".bin"), "an old copy");
         }
         host::SetAttributes(target + "\\old\\big03.bin", kReadOnly);
         for (int i = 0; i < 60; ++i) WriteTextFile(target + Numbered("\\new", i, ".txt"), "old");
       },
       true, 114},
      {"names with more than one spelling beside plain ones",
       Joined({{FileEntry("P\\caf\xE9.txt", "one"), FileEntry("P\\CAF\xC9.TXT", "two"),
                FileEntry("P\\LONGNA~1.TXT", "short form"),
                FileEntry("P\\longname.txt", "long form")},
               SmallFiles("P\\plain", 20, ".txt")}),
       nothing, true, 22},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LoadPackage(ManifestText("", ""), c.entries);

    const Outcome one_by_one = Run(ExtractOneByOne, c.prepare);
    const Outcome pass = Run(app::ExtractPart, c.prepare);

    EXPECT_EQ(one_by_one.ok, c.ok);
    EXPECT_GE(one_by_one.files.size(), c.files_at_least);
    EXPECT_EQ(pass.ok, one_by_one.ok);
    EXPECT_EQ(pass.messages, one_by_one.messages);
    EXPECT_EQ(pass.files, one_by_one.files);
  }
}

}  // namespace
}  // namespace app_test
