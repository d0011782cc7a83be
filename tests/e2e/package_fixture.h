// Package trees on disk for the end-to-end tests, the packing tool run on them, and the registry
// entry of an installed development environment.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/win32.h"

namespace e2e {

// One item of a package tree: a folder, or a file with its contents, its last-write time (local
// time; even seconds, as the archive stores them) and whether it is read-only.
struct TreeItem {
  std::string path;  // below the tree's root, backslashes
  bool folder = false;
  std::string contents;
  SYSTEMTIME modified{};
  bool read_only = false;
};

TreeItem Folder(const std::string& path);
TreeItem File(const std::string& path, const std::string& contents, const SYSTEMTIME& modified,
              bool read_only = false);

// Writes the items below `root` in order (a folder before what it holds).
void WriteTree(const std::string& root, const std::vector<TreeItem>& items);

// A manifest line: the key letter, free text up to column 15, the value from column 16.
std::string ManifestLine(char key, const std::string& value);
// `size` bytes that differ from position to position, so that misplaced chunks show.
std::string PatternBytes(size_t size, uint8_t seed);
std::string ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
SYSTEMTIME LocalTime(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second);

bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
// The names in a folder, without . and ..; empty for a missing folder.
std::vector<std::string> FolderContents(const std::string& folder);

// Runs setup-pack with `arguments` (already quoted where needed). Empty on success, else the
// tool's output and exit code for the failure message.
std::string RunPackTool(const std::string& arguments);

// Sets the length byte of the package block's caption field in a built installer.
bool PatchCaptionLength(const std::string& installer, uint8_t length);

// HKLM\SOFTWARE\Borland\Delphi\<version> with RootDir, in the 32-bit registry view, as a 32-bit
// IDE installs it. Removed again at the end, with its parent keys when no other key is left below.
class DelphiRegistration {
 public:
  DelphiRegistration(const std::string& version, const std::string& root_dir);
  ~DelphiRegistration();
  DelphiRegistration(const DelphiRegistration&) = delete;
  DelphiRegistration& operator=(const DelphiRegistration&) = delete;
  bool ok() const { return ok_; }

 private:
  std::string version_;
  bool ok_ = false;
};

}  // namespace e2e
