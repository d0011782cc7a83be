// rand_s is declared only on request.
#define _CRT_RAND_S
#include <stdlib.h>

#include "host/files.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "archive/dos_time.h"
#include "host/helpers.h"
#include "host/host_error.h"
#include "host/unique_name.h"
#include "host/win32.h"

namespace host {
namespace {

// ReadFile and WriteFile count in DWORDs; larger requests are cut into pieces of this size.
constexpr size_t kMaxTransfer = 1u << 30;

HostError ErrorFor(const char* what, const std::string& path, DWORD error) {
  return HostError(std::string(what) + " \"" + path + "\". " + win32::ErrorText(error));
}

void CloseQuietly(NativeFile file) {
  if (file != kNoNativeFile) CloseHandle(file);
}

std::string ParentOf(const std::string& path) {
  const size_t separator = path.find_last_of("\\/");
  if (separator == std::string::npos || separator == 0) return std::string();
  std::string parent = path.substr(0, separator);
  // A drive ("c:") is not a folder that can be created.
  if (parent.back() == ':') return std::string();
  return parent;
}

bool CreateWithParents(const std::string& path) {
  if (CreateDirectoryA(path.c_str(), nullptr)) return true;
  if (GetLastError() == ERROR_PATH_NOT_FOUND) {
    const std::string parent = ParentOf(path);
    if (!parent.empty() && CreateWithParents(parent) && CreateDirectoryA(path.c_str(), nullptr)) {
      return true;
    }
  }
  return FolderExists(path);
}

}  // namespace

std::string NativePath(const std::string& path) { return path; }

std::string FromNativePath(const std::string& native) { return native; }

// ---- OutputFile ----

OutputFile::OutputFile(NativeFile file, std::string path, bool created_new)
    : file_(file), path_(std::move(path)), created_new_(created_new) {}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : file_(std::exchange(other.file_, kNoNativeFile)),
      path_(std::move(other.path_)),
      created_new_(other.created_new_) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    CloseQuietly(file_);
    file_ = std::exchange(other.file_, kNoNativeFile);
    path_ = std::move(other.path_);
    created_new_ = other.created_new_;
  }
  return *this;
}

OutputFile::~OutputFile() { CloseQuietly(file_); }

OutputFile OutputFile::CreateReplacing(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw ErrorFor("Cannot create file", path, GetLastError());
  return OutputFile(file, path, GetLastError() != ERROR_ALREADY_EXISTS);
}

std::optional<OutputFile> OutputFile::CreateNew(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  return OutputFile(file, path, true);
}

OutputFile OutputFile::CreateUnique(const std::string& folder, const std::string& stem) {
  // The C runtime's rand_s draws on the system's own generator (RtlGenRandom).
  const auto entropy = [] {
    unsigned int value = 0;
    rand_s(&value);
    return static_cast<uint32_t>(value);
  };
  DWORD error = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < kUniqueNameAttempts &&
                        (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS);
       ++attempt) {
    const std::string path =
        AddBackslash(folder) + stem + HexDigits(entropy(), entropy()) + ".tmp";
    // CREATE_NEW fails on any existing name, a link included.
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) return OutputFile(file, path, true);
    error = GetLastError();
  }
  throw ErrorFor("Cannot create a new file in", folder, error);
}

// Windows images carry no permission bits of their own.
bool OutputFile::CopyPermissionsFrom(const std::string&) { return true; }

void OutputFile::Write(const void* data, size_t count) {
  const char* next = static_cast<const char*>(data);
  while (count > 0) {
    const DWORD piece = static_cast<DWORD>(std::min(count, kMaxTransfer));
    DWORD written = 0;
    if (!WriteFile(file_, next, piece, &written, nullptr)) {
      throw ErrorFor("Cannot write file", path_, GetLastError());
    }
    if (written == 0) throw ErrorFor("Cannot write file", path_, ERROR_DISK_FULL);
    next += written;
    count -= written;
  }
}

bool OutputFile::SetLastWriteTime(uint32_t dos_date_time) {
  FILETIME local{};
  FILETIME utc{};
  // LocalFileTimeToFileTime applies the bias in force now, not the one of the stored date.
  return DosDateTimeToFileTime(HIWORD(dos_date_time), LOWORD(dos_date_time), &local) &&
         LocalFileTimeToFileTime(&local, &utc) && SetFileTime(file_, nullptr, nullptr, &utc);
}

uint32_t LocalDosDateTimeOf(int64_t utc_seconds) {
  // FILETIME counts 100-nanosecond steps from 1601-01-01; anything before that is 1601.
  constexpr int64_t kSecondsFrom1601To1970 = 11'644'473'600;
  const int64_t steps = std::max<int64_t>(utc_seconds + kSecondsFrom1601To1970, 0) * 10'000'000;
  const FILETIME utc{static_cast<DWORD>(steps), static_cast<DWORD>(steps >> 32)};
  FILETIME local{};
  SYSTEMTIME fields{};
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &fields)) {
    return archive::DosDateTimeFromCivil({});
  }
  return archive::DosDateTimeFromCivil(
      {fields.wYear, fields.wMonth, fields.wDay, fields.wHour, fields.wMinute, fields.wSecond});
}

void OutputFile::Close() {
  HANDLE file = std::exchange(file_, kNoNativeFile);
  if (file != kNoNativeFile && !CloseHandle(file)) {
    throw ErrorFor("Cannot write file", path_, GetLastError());
  }
}

// Windows gives a new file attribute bits of its own (the archive bit), so the stored ones are
// always applied. As SetFileAttributes does, the normal bit is added: alone it means none, and
// beside others it is ignored (0 would mean "leave them as they are"). Times of 0 stay as they
// are.
bool OutputFile::ApplyAttributes(uint32_t attributes) {
  FILE_BASIC_INFO information{};
  information.FileAttributes = attributes | FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(file_, FileBasicInfo, &information, sizeof information) != 0;
}

// ---- InputFile ----

InputFile::InputFile(NativeFile file, std::string path) : file_(file), path_(std::move(path)) {}

InputFile::InputFile(InputFile&& other) noexcept
    : file_(std::exchange(other.file_, kNoNativeFile)),
      path_(std::move(other.path_)),
      position_(other.position_) {}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
  if (this != &other) {
    CloseQuietly(file_);
    file_ = std::exchange(other.file_, kNoNativeFile);
    path_ = std::move(other.path_);
    position_ = other.position_;
  }
  return *this;
}

InputFile::~InputFile() { CloseQuietly(file_); }

InputFile InputFile::OpenReadOnly(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw ErrorFor("Cannot open file", path, GetLastError());
  return InputFile(file, path);
}

void InputFile::Seek(int64_t position) {
  LARGE_INTEGER distance{};
  distance.QuadPart = position;
  LARGE_INTEGER reached{};
  if (!SetFilePointerEx(file_, distance, &reached, FILE_BEGIN)) {
    throw ErrorFor("Cannot seek in file", path_, GetLastError());
  }
  position_ = reached.QuadPart;
}

size_t InputFile::Read(void* buffer, size_t count) {
  char* next = static_cast<char*>(buffer);
  size_t total = 0;
  while (total < count) {
    const DWORD piece = static_cast<DWORD>(std::min(count - total, kMaxTransfer));
    DWORD got = 0;
    if (!ReadFile(file_, next + total, piece, &got, nullptr)) {
      throw ErrorFor("Cannot read file", path_, GetLastError());
    }
    if (got == 0) break;
    total += got;
  }
  position_ += static_cast<int64_t>(total);
  return total;
}

int64_t InputFile::Position() const { return position_; }

int64_t InputFile::Size() const {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file_, &size)) {
    throw ErrorFor("Cannot read the size of file", path_, GetLastError());
  }
  return size.QuadPart;
}

// ---- Names ----

bool SetAttributes(const std::string& path, uint32_t attributes) {
  return SetFileAttributesA(path.c_str(), attributes) != FALSE;
}

bool CreateFolderWithParents(const std::string& path) {
  std::string folder = path;
  while (folder.size() > 1 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  if (folder.empty()) return false;
  return CreateWithParents(folder);
}

bool FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FolderExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

namespace {

// A handle for reading the attributes of the item at `path`; `flags` add to
// FILE_FLAG_BACKUP_SEMANTICS, which folders need.
win32::UniqueHandle OpenForAttributes(const std::string& path, DWORD flags = 0) {
  return win32::UniqueHandle(CreateFileA(
      path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr));
}

std::optional<BY_HANDLE_FILE_INFORMATION> InformationOf(const std::string& path, DWORD flags) {
  const win32::UniqueHandle item = OpenForAttributes(path, flags);
  BY_HANDLE_FILE_INFORMATION information{};
  if (!item.valid() || !GetFileInformationByHandle(item.get(), &information)) return std::nullopt;
  return information;
}

FileIdentity IdentityIn(const BY_HANDLE_FILE_INFORMATION& information) {
  return FileIdentity{information.dwVolumeSerialNumber,
                      (static_cast<uint64_t>(information.nFileIndexHigh) << 32) |
                          information.nFileIndexLow};
}

}  // namespace

std::optional<FileIdentity> IdentityOf(const std::string& path) {
  const std::optional<BY_HANDLE_FILE_INFORMATION> information = InformationOf(path, 0);
  if (!information) return std::nullopt;
  return IdentityIn(*information);
}

// Wine shows the reparse-point attribute on a symbolic link to a folder only, not on one to a
// file, and opens the link's target even when asked for the link: there a link to a file looks
// like its target.
std::optional<ItemOnDisk> LookAt(const std::string& path) {
  const std::optional<BY_HANDLE_FILE_INFORMATION> information =
      InformationOf(path, FILE_FLAG_OPEN_REPARSE_POINT);
  if (!information) return std::nullopt;
  return ItemOnDisk{(information->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0,
                    IdentityIn(*information)};
}

bool ListFolder(const std::string& folder, const std::function<void(const FolderItem&)>& visit) {
  WIN32_FIND_DATAA found{};
  const win32::UniqueFind find(FindFirstFileA((AddBackslash(folder) + "*.*").c_str(), &found));
  if (!find.valid()) return false;
  FolderItem item;
  do {
    item.name = found.cFileName;
    item.attributes = found.dwFileAttributes;
    item.is_link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    visit(item);
  } while (FindNextFileA(find.get(), &found));
  return true;
}

namespace {

// `path` without trailing backslashes, except after a drive ("c:\" stays, "c:" means the drive's
// current folder, not its root).
std::string WithoutTrailingBackslash(std::string path) {
  while (path.size() > 1 && path.back() == '\\' && path[path.size() - 2] != ':') path.pop_back();
  return path;
}

// The folder that holds `path`, spelled so that Windows reads it as that folder ("c:\" for an
// item right below a drive root); empty when `path` names no parent.
std::string ParentFolderOf(const std::string& path) {
  const size_t separator = path.find_last_of('\\');
  if (separator == std::string::npos || separator == 0) return std::string();
  std::string parent = path.substr(0, separator);
  if (parent.back() == ':') parent += '\\';
  return parent;
}

// Wide text, as the file system's own names are: a vector rather than a wide string, which would
// bring the standard library's whole wide-string code into the installer.
using WideText = std::vector<WCHAR>;

// The handle's path on its volume (no drive), as the file system names the opened item.
WideText VolumePathOf(HANDLE item) {
  // Room for the longest path the volume can hold.
  std::vector<DWORD> buffer((sizeof(FILE_NAME_INFO) + 32'768 * sizeof(WCHAR)) / sizeof(DWORD));
  auto* info = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
  if (!GetFileInformationByHandleEx(item, FileNameInfo, info,
                                    static_cast<DWORD>(buffer.size() * sizeof(DWORD)))) {
    return {};
  }
  WideText path(info->FileName, info->FileName + info->FileNameLength / sizeof(WCHAR));
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  return path;
}

WideText WideFromAnsi(const std::string& text) {
  const int length =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  WideText wide(static_cast<size_t>(std::max(length, 0)), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

// Wine (8.0) follows a symbolic link in every open, FILE_FLAG_OPEN_REPARSE_POINT notwithstanding,
// and shows no reparse-point attribute on a link to a file: a handle opened on such a link is its
// target's, and a delete through it removes the target. Windows opens the link itself, so this
// check runs under Wine only. There the handle's path is the resolved one, and the item opened as
// itself exactly when that path is its parent's resolved path followed by its own name.
bool WineOpenedTheItemItself(HANDLE item, const std::string& path) {
  const std::string parent_path = ParentFolderOf(path);
  if (parent_path.empty()) return false;
  const win32::UniqueHandle parent = OpenForAttributes(parent_path);
  if (!parent.valid()) return false;
  const WideText item_volume_path = VolumePathOf(item);
  WideText expected = VolumePathOf(parent.get());
  expected.push_back(L'\\');
  const WideText name = WideFromAnsi(path.substr(path.find_last_of('\\') + 1));
  expected.insert(expected.end(), name.begin(), name.end());
  return !item_volume_path.empty() &&
         CompareStringOrdinal(item_volume_path.data(), static_cast<int>(item_volume_path.size()),
                              expected.data(), static_cast<int>(expected.size()),
                              TRUE) == CSTR_EQUAL;
}

// Deletes the item named by `path` itself, a folder when `folder` is set and a file otherwise:
// it is opened without following a link (a link opens as the link) and deleted through that
// handle, so what is deleted is the very item opened, wherever a link may lead. The platform
// refuses a read-only file and a folder that is not empty.
bool DeleteItemItself(const std::string& raw_path, bool folder) {
  const std::string path = WithoutTrailingBackslash(raw_path);
  const win32::UniqueHandle item(CreateFileA(
      path.c_str(), DELETE | FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!item.valid()) return false;
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(item.get(), &information)) return false;
  const bool is_folder = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (is_folder != folder) return false;
  if (win32::RunningUnderWine() && !WineOpenedTheItemItself(item.get(), path)) return false;
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  return SetFileInformationByHandle(item.get(), FileDispositionInfo, &disposition,
                                    sizeof disposition) != FALSE;
}

}  // namespace

void RenameReplacing(const std::string& from, const std::string& to) {
  if (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    throw ErrorFor("Cannot replace file", to, GetLastError());
  }
}

bool DeleteFileAt(const std::string& path) { return DeleteItemItself(path, false); }

bool RemoveFolder(const std::string& path) { return DeleteItemItself(path, true); }

std::string GetCurrentFolder() {
  std::vector<char> buffer(MAX_PATH + 1);
  for (;;) {
    const DWORD length = GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length == 0) throw ErrorFor("Cannot read the current folder", ".", GetLastError());
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(length + 1);
  }
}

void SetCurrentFolder(const std::string& path) {
  if (!SetCurrentDirectoryA(path.c_str())) {
    throw ErrorFor("Cannot change the current folder to", path, GetLastError());
  }
}

std::optional<std::string> PlatformTempPath(size_t buffer_chars) {
  const DWORD capacity = static_cast<DWORD>(std::min<size_t>(buffer_chars, MAXDWORD));
  std::vector<char> buffer(std::max<DWORD>(capacity, 1));
  // The answer is its length without the NUL, or the size needed (NUL included) when the buffer
  // is too small; only a length below the capacity is a path that fit.
  const DWORD length = GetTempPathA(capacity, buffer.data());
  if (length == 0 || length >= capacity) return std::nullopt;
  return std::string(buffer.data(), length);
}

}  // namespace host
