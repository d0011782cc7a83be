// The platform file layer: the few file and folder operations the reader, the helpers and the jobs
// need. Paths are 8-bit ANSI strings with backslash separators, as the installer uses them
// everywhere. On POSIX every backslash becomes a slash here, at the boundary, and nowhere else; a
// drive letter has no meaning there and is not translated.
//
// Errors: operations documented as "throws" raise host::HostError carrying the platform's text.
// The others report failure only by their result, as their callers expect.
//
// Attributes are the 32-bit Windows attribute bits. On POSIX only the read-only bit (0x01) has an
// effect (it clears or restores the write permission bits); the others are ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "host/native.h"

namespace host {

constexpr uint32_t kAttributeReadOnly = 0x01;
constexpr uint32_t kAttributeHidden = 0x02;
constexpr uint32_t kAttributeSystem = 0x04;
constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kAttributeArchive = 0x20;
constexpr uint32_t kAttributeNormal = 0x80;
constexpr uint32_t kAttributeReparsePoint = 0x400;

// The file layer spells paths as the installer does, with backslashes between the parts. On
// POSIX the native spelling turns them into slashes, and the character kLiteralBackslash (the
// unit separator, a control character that no package name may hold) into a backslash, so that a
// POSIX name holding a backslash can be spelled as well. On Windows both spellings are the same.
constexpr char kLiteralBackslash = '\x1F';
// The native spelling of a path of the file layer.
std::string NativePath(const std::string& path);
// The file layer's spelling of a native path (a path from a command line): NativePath's reverse.
std::string FromNativePath(const std::string& native);

// A file being written. Created replacing any file of the same name; closed by its destructor if
// not closed before. Move-only.
class OutputFile {
 public:
  // Creates (or truncates) the file for writing. Throws when the platform refuses, for example
  // when the existing file is read-only, a folder has that name, or another program holds it.
  static OutputFile CreateReplacing(const std::string& path);
  // Creates the file only if nothing has its name yet (a file, a folder, a link: nothing is
  // opened or followed). None, without an error, when it cannot: the name is taken, the folder
  // is missing, access is refused; a caller that needs the reason tries CreateReplacing.
  static std::optional<OutputFile> CreateNew(const std::string& path);
  // Creates a file that did not exist, named `folder` + "\" + `stem` + random hexadecimal digits
  // + ".tmp", for a file that appears under its real name only once it is whole. The name cannot
  // be guessed beforehand, and whatever already has it (a file, a link planted there) is never
  // opened or followed: another name is tried. Throws when no new file can be made.
  static OutputFile CreateUnique(const std::string& folder, const std::string& stem);

  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();

  // Writes all `count` bytes. Throws on a write error (disk full, file size limit, ...).
  void Write(const void* data, size_t count);
  // Sets the last-write time through the open file from a DOS date-time in local time, converted
  // with the time-zone offset in force now. Creation and last-access times are left alone
  // (on POSIX the access time is left unchanged). Returns false on failure.
  bool SetLastWriteTime(uint32_t dos_date_time);
  // Gives the open file the permission bits of the file at `from` (POSIX; Windows has none to
  // give). False on failure.
  bool CopyPermissionsFrom(const std::string& from);
  // Closes the file. Throws when closing reports a write error.
  void Close();
  const std::string& path() const { return path_; }
  // Gives the open file the attribute bits `attributes`, with the effect of SetAttributes on its
  // name, through the open file: no second open by name (which costs a path lookup and an open
  // on Windows, three requests to the server under Wine). The last call before Close. On POSIX a
  // file that CreateReplacing made new (rather than truncated) already has the mode of a normal
  // file, so only a read-only bit then costs a call. Returns false on failure.
  bool ApplyAttributes(uint32_t attributes);

 private:
  OutputFile(NativeFile file, std::string path, bool created_new);
  NativeFile file_;
  std::string path_;
  bool created_new_;
};

// An archive file opened read-only, for the reader's file source. Move-only.
class InputFile {
 public:
  static InputFile OpenReadOnly(const std::string& path);  // throws
  InputFile(InputFile&& other) noexcept;
  InputFile& operator=(InputFile&& other) noexcept;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  void Seek(int64_t position);                 // throws
  size_t Read(void* buffer, size_t count);     // throws; returns fewer at the end of the file
  int64_t Position() const;
  int64_t Size() const;                        // throws

 private:
  InputFile(NativeFile file, std::string path);
  NativeFile file_;
  std::string path_;
  int64_t position_ = 0;
};

// Sets the attribute bits of a file or folder by name. Returns false on failure.
bool SetAttributes(const std::string& path, uint32_t attributes);

// Creates the folder and any missing parents. True when the folder exists afterwards.
bool CreateFolderWithParents(const std::string& path);

// True when `path` names an existing file (a folder does not count).
bool FileExists(const std::string& path);
// True when `path` names an existing folder.
bool FolderExists(const std::string& path);
// What tells one file-system object from every other: its volume and its number there. Two
// paths, whatever names or links lead to the object, have equal identities exactly when they
// name the same object.
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t index = 0;
  bool operator==(const FileIdentity& other) const {
    return volume == other.volume && index == other.index;
  }
};
// The identity of what `path` names (links followed); none when it cannot be found.
std::optional<FileIdentity> IdentityOf(const std::string& path);
// What lies at `path` itself, a link not followed: whether it is a link (POSIX: a symbolic link;
// Windows: a reparse point, a symbolic link or a junction), and its own identity. None when
// nothing is there. One look answers both, where a writer must not go through a link.
struct ItemOnDisk {
  bool is_link = false;
  FileIdentity identity;
};
std::optional<ItemOnDisk> LookAt(const std::string& path);

// One item of a folder listing. `is_link` is true for a symbolic link or (on Windows) a reparse
// point; such an item is never entered by DeleteTree.
struct FolderItem {
  std::string name;
  uint32_t attributes = 0;
  bool is_link = false;
};

// Lists the folder's items (hidden, system and read-only ones included; also "." and ".." where
// the platform reports them). Returns false when the folder cannot be listed.
bool ListFolder(const std::string& folder, const std::function<void(const FolderItem&)>& visit);

// Renames the file `from` to `to`, replacing a file `to` as one step (POSIX rename, Windows
// MoveFileEx with MOVEFILE_REPLACE_EXISTING). Throws HostError on failure.
void RenameReplacing(const std::string& from, const std::string& to);

// Deletes one file (or a link) without changing its attributes first. False on failure.
bool DeleteFileAt(const std::string& path);
// Removes an empty folder. False on failure.
bool RemoveFolder(const std::string& path);

// The DOS date-time of a moment given in seconds since 1970-01-01 UTC, in local time with the
// bias in force now (as FileTimeToLocalFileTime converts), clamped to what a DOS date-time holds.
// The reverse of OutputFile::SetLastWriteTime.
uint32_t LocalDosDateTimeOf(int64_t utc_seconds);

// The current folder of the process, and changing it (throws on failure).
std::string GetCurrentFolder();
void SetCurrentFolder(const std::string& path);

// The user's temporary folder as the platform reports it, asked with a buffer of `buffer_chars`
// characters including the closing NUL (GetTempPathA on Windows; TMPDIR or /tmp on POSIX, with
// the same length rule). None when the platform reports an error or the path does not fit.
std::optional<std::string> PlatformTempPath(size_t buffer_chars);

}  // namespace host
