// Shared pieces of the setup-pack tests: running the tool and the test image, describing a
// package tree in memory, writing it to disk with its dates and attributes, and what `list` must
// print for it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive_writer.h"
#include "tests/support/temp_folder.h"
#include "tests/tools/run_program.h"

namespace pack_testing {

std::string SetupPackPath();
std::string TestImagePath();

// One item of a package tree, in the order the archive stores it.
struct ModelEntry {
  std::string name;          // archive spelling: relative, backslashes
  bool is_folder = false;
  std::string data;
  bool read_only = false;
  uint32_t modified = 0;     // DOS date-time
};

// A DOS date-time from its fields, by the format's definition (seconds in 2-second steps).
uint32_t DosTime(int year, int month, int day, int hour, int minute, int second);

// The attribute bits a plain file reports on this platform (Windows adds the archive bit).
uint32_t PlainFileAttributes();
// A Windows-1252 file name as this platform spells it (POSIX: UTF-8; test names keep to ASCII and
// Latin-1).
std::string NativeName(const std::string& windows_1252);
// POSIX: file names are UTF-8 and may hold characters Windows refuses, paths may be long, and
// files may be sparse. Cases that need these run only there.
bool IsPosix();

// An entry for an archive written in memory: its name, attributes and date, and the same
// scrambling seeds for every entry.
archive::EntrySpec EntrySpecOf(const std::string& name, uint32_t attributes = 0,
                               uint32_t modified = 0);

// Writes the entries below `root` (installer spelling; created when missing), files with their
// data, modification times and read-only bits.
void WriteTree(const std::string& root, const std::vector<ModelEntry>& entries);

// The lines `setup-pack list` prints for an archive of `entries`, the count line included. A
// folder's line ends after its attributes: a folder's date is whatever the disk says.
std::vector<std::string> ExpectedListing(const std::vector<ModelEntry>& entries);
// Checks `listing` line by line against ExpectedListing; a folder line is compared up to its date.
void ExpectListing(const std::string& listing, const std::vector<ModelEntry>& entries);

// A tree of a few thousand entries in the three parts plus id.txt, files of many sizes (some
// spanning several 32 KiB chunks), different dates, every seventh file read-only.
std::vector<ModelEntry> LargeTree();

std::vector<std::string> Lines(const std::string& text);
std::vector<uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
// The names in a folder, "." and ".." left out, sorted.
std::vector<std::string> FolderNames(const std::string& folder);
// Makes `link` (installer spelling) a symbolic link to `target`. Programs cannot make links under
// Wine: then false, with the reason.
bool MakeLink(const std::string& target, const std::string& link, std::string& why_not);

class PackToolTest : public testing_support::TempFolderTest {
 protected:
  // temp_.Sub(relative) in the platform's spelling, as a user would type it.
  std::string Path(const std::string& relative) const;
  ProgramResult Pack(const std::vector<std::string>& arguments);
  ProgramResult RunImage(const std::string& image, const std::vector<std::string>& arguments = {});

 private:
  std::string CaptureFolder();
  std::string capture_folder_;
};

}  // namespace pack_testing
