#include "host/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <utility>
#include <vector>

#include "archive/dos_time.h"
#include "host/helpers.h"
#include "host/host_error.h"
#include "host/unique_name.h"

namespace host {
namespace {

// glibc offers the GNU strerror_r (returning the text) and other systems the XSI one (filling the
// buffer); overloads on the result type take whichever the headers declare.
[[maybe_unused]] const char* PickErrorText(int /*xsi_result*/, const char* buffer) {
  return buffer;
}
[[maybe_unused]] const char* PickErrorText(const char* gnu_result, const char* /*buffer*/) {
  return gnu_result;
}

std::string ErrnoText(int error) {
  char buffer[256] = {};
  return PickErrorText(strerror_r(error, buffer, sizeof buffer), buffer);
}

// Messages name the path in the platform's spelling.
HostError ErrorFor(const char* what, const std::string& path, int error) {
  return HostError(std::string(what) + " \"" + NativePath(path) + "\". " + ErrnoText(error));
}

// The umask can only be read by setting it. Reading it once, while the program starts and before
// any thread can create a file, keeps SetAttributes to a single chmod and never races with
// another thread's file creation.
mode_t ReadUmask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

const mode_t kUmask = ReadUmask();

mode_t ModeFor(uint32_t attributes) {
  const bool folder = (attributes & kAttributeDirectory) != 0;
  const bool read_only = (attributes & kAttributeReadOnly) != 0;
  const mode_t all = folder ? 0777 : 0666;
  const mode_t allowed = read_only ? (all & ~static_cast<mode_t>(0222)) : all;
  return allowed & ~kUmask;
}

// Seconds since the epoch of a DOS date-time read as wall-clock time in UTC; none for a date or
// time that does not exist.
std::optional<int64_t> DosDateTimeAsUtcSeconds(uint32_t dos_date_time) {
  const std::optional<archive::CivilTime> civil = archive::CivilFromDosDateTime(dos_date_time);
  if (!civil) return std::nullopt;
  return archive::SecondsSinceEpochAsUtc(*civil);
}

// The offset of local time from UTC in force now. Windows converts a local file time with the
// bias in force when it runs (LocalFileTimeToFileTime), not the one in force at the stored date;
// a stored summer date extracted in winter therefore moves by the daylight-saving hour there,
// and does the same here.
std::optional<int64_t> LocalOffsetNow() {
  const time_t now = ::time(nullptr);
  struct tm local {};
  if (localtime_r(&now, &local) == nullptr) return std::nullopt;
  return static_cast<int64_t>(local.tm_gmtoff);
}

bool IsFolderMode(mode_t mode) { return S_ISDIR(mode); }

std::optional<struct stat> StatOf(const std::string& path) {
  struct stat info {};
  if (::stat(NativePath(path).c_str(), &info) != 0) return std::nullopt;
  return info;
}

void CloseQuietly(int fd) {
  if (fd != kNoNativeFile) ::close(fd);
}

std::string ParentOf(const std::string& native) {
  const size_t slash = native.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return std::string();
  return native.substr(0, slash);
}

bool CreateNativeFolderWithParents(const std::string& native) {
  if (::mkdir(native.c_str(), 0777) == 0) return true;
  if (errno == ENOENT) {
    const std::string parent = ParentOf(native);
    if (parent.empty() || !CreateNativeFolderWithParents(parent)) return false;
    if (::mkdir(native.c_str(), 0777) == 0) return true;
  }
  struct stat info {};
  return ::stat(native.c_str(), &info) == 0 && IsFolderMode(info.st_mode);
}

}  // namespace

std::string NativePath(const std::string& path) {
  std::string native = path;
  for (char& c : native) {
    if (c == '\\') {
      c = '/';
    } else if (c == kLiteralBackslash) {
      c = '\\';
    }
  }
  return native;
}

std::string FromNativePath(const std::string& native) {
  std::string path = native;
  for (char& c : path) {
    if (c == '/') {
      c = '\\';
    } else if (c == '\\') {
      c = kLiteralBackslash;
    }
  }
  return path;
}

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

// Extraction mostly writes into a cleared folder, so the exclusive create succeeds and tells that
// the file is new (its mode is then known, see ApplyAttributes); only a name that is
// taken costs the second open, which replaces the file as before.
OutputFile OutputFile::CreateReplacing(const std::string& path) {
  const std::string native = NativePath(path);
  int fd = ::open(native.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
  if (fd >= 0) return OutputFile(fd, path, true);
  if (errno != EEXIST) throw ErrorFor("Cannot create file", path, errno);
  fd = ::open(native.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) throw ErrorFor("Cannot create file", path, errno);
  return OutputFile(fd, path, false);
}

std::optional<OutputFile> OutputFile::CreateNew(const std::string& path) {
  const int fd = ::open(NativePath(path).c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) return std::nullopt;
  return OutputFile(fd, path, true);
}

OutputFile OutputFile::CreateUnique(const std::string& folder, const std::string& stem) {
  std::random_device entropy;
  int error = EEXIST;
  for (int attempt = 0; attempt < kUniqueNameAttempts && error == EEXIST; ++attempt) {
    const std::string path =
        AddBackslash(folder) + stem + HexDigits(entropy(), entropy()) + ".tmp";
    // O_EXCL fails on any existing name, a symbolic link (even a dangling one) included.
    const int fd = ::open(NativePath(path).c_str(),
                          O_CREAT | O_EXCL | O_NOFOLLOW | O_WRONLY | O_CLOEXEC, 0666);
    if (fd >= 0) return OutputFile(fd, path, true);
    error = errno;
  }
  throw ErrorFor("Cannot create a new file in", folder, error);
}

bool OutputFile::CopyPermissionsFrom(const std::string& from) {
  const std::optional<struct stat> info = StatOf(from);
  return info && ::fchmod(file_, info->st_mode & 07777) == 0;
}

void OutputFile::Write(const void* data, size_t count) {
  const char* next = static_cast<const char*>(data);
  while (count > 0) {
    const ssize_t written = ::write(file_, next, count);
    if (written < 0) {
      if (errno == EINTR) continue;
      throw ErrorFor("Cannot write file", path_, errno);
    }
    // A regular file never accepts nothing without an error; treat it as a full disk rather
    // than loop for ever.
    if (written == 0) throw ErrorFor("Cannot write file", path_, ENOSPC);
    next += written;
    count -= static_cast<size_t>(written);
  }
}

bool OutputFile::SetLastWriteTime(uint32_t dos_date_time) {
  const std::optional<int64_t> wall_clock = DosDateTimeAsUtcSeconds(dos_date_time);
  const std::optional<int64_t> offset = LocalOffsetNow();
  if (!wall_clock || !offset) return false;
  struct timespec times[2] = {};
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(*wall_clock - *offset);
  return ::futimens(file_, times) == 0;
}

void OutputFile::Close() {
  const int fd = std::exchange(file_, kNoNativeFile);
  // Linux releases the descriptor even when close reports EINTR; it must not be closed again.
  if (fd != kNoNativeFile && ::close(fd) != 0 && errno != EINTR) {
    throw ErrorFor("Cannot write file", path_, errno);
  }
}

// A file that open() created got 0666 less the umask, which is what a normal file's attributes
// ask for (where the folder carries a default ACL, the ACL's mode stays, as for any file a
// program creates there). Skipping the chmod saves a path lookup per extracted file.
bool OutputFile::ApplyAttributes(uint32_t attributes) {
  if (created_new_ && ModeFor(attributes) == ModeFor(0)) return true;
  return ::fchmod(file_, ModeFor(attributes)) == 0;
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
  const int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw ErrorFor("Cannot open file", path, errno);
  struct stat info {};
  if (::fstat(fd, &info) == 0 && IsFolderMode(info.st_mode)) {
    ::close(fd);
    throw ErrorFor("Cannot open file", path, EISDIR);
  }
  return InputFile(fd, path);
}

void InputFile::Seek(int64_t position) {
  const off_t reached = ::lseek(file_, static_cast<off_t>(position), SEEK_SET);
  if (reached < 0) throw ErrorFor("Cannot seek in file", path_, errno);
  position_ = reached;
}

size_t InputFile::Read(void* buffer, size_t count) {
  char* next = static_cast<char*>(buffer);
  size_t total = 0;
  while (total < count) {
    const ssize_t got = ::read(file_, next + total, count - total);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw ErrorFor("Cannot read file", path_, errno);
    }
    if (got == 0) break;
    total += static_cast<size_t>(got);
  }
  position_ += static_cast<int64_t>(total);
  return total;
}

int64_t InputFile::Position() const { return position_; }

int64_t InputFile::Size() const {
  struct stat info {};
  if (::fstat(file_, &info) != 0) throw ErrorFor("Cannot read the size of file", path_, errno);
  return static_cast<int64_t>(info.st_size);
}

// ---- Names ----

// One chmod and no stat: the mode comes from the attribute bits alone, so a folder must be named
// with its folder bit (0x10), as Windows reports folder attributes.
bool SetAttributes(const std::string& path, uint32_t attributes) {
  return ::chmod(NativePath(path).c_str(), ModeFor(attributes)) == 0;
}

bool CreateFolderWithParents(const std::string& path) {
  std::string native = NativePath(path);
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  if (native.empty()) return false;
  return CreateNativeFolderWithParents(native);
}

bool FileExists(const std::string& path) {
  const std::optional<struct stat> info = StatOf(path);
  return info && !IsFolderMode(info->st_mode);
}

bool FolderExists(const std::string& path) {
  const std::optional<struct stat> info = StatOf(path);
  return info && IsFolderMode(info->st_mode);
}

namespace {

FileIdentity IdentityIn(const struct stat& info) {
  return FileIdentity{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

}  // namespace

std::optional<FileIdentity> IdentityOf(const std::string& path) {
  const std::optional<struct stat> info = StatOf(path);
  if (!info) return std::nullopt;
  return IdentityIn(*info);
}

std::optional<ItemOnDisk> LookAt(const std::string& path) {
  struct stat info {};
  if (::lstat(NativePath(path).c_str(), &info) != 0) return std::nullopt;
  return ItemOnDisk{S_ISLNK(info.st_mode), IdentityIn(info)};
}

namespace {

struct Placement {
  struct statx info {};
  bool known = false;
};

Placement PlacementOf(int folder_fd, const char* name) {
  Placement placement;
  const int flags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | (name[0] == '\0' ? AT_EMPTY_PATH : 0);
  placement.known = ::statx(folder_fd, name, flags, STATX_MNT_ID, &placement.info) == 0;
  return placement;
}

// A sub-folder on which something is mounted (another file system, or a bind mount of a folder
// from elsewhere) leads to another place, as a Windows mount point does: it counts as a link.
bool IsMountPoint(const Placement& folder, const Placement& sub_folder) {
  if (!folder.known || !sub_folder.known) return false;
  if (folder.info.stx_dev_major != sub_folder.info.stx_dev_major ||
      folder.info.stx_dev_minor != sub_folder.info.stx_dev_minor) {
    return true;
  }
  return (folder.info.stx_mask & sub_folder.info.stx_mask & STATX_MNT_ID) != 0 &&
         folder.info.stx_mnt_id != sub_folder.info.stx_mnt_id;
}

}  // namespace

bool ListFolder(const std::string& folder, const std::function<void(const FolderItem&)>& visit) {
  DIR* stream = ::opendir(NativePath(folder).c_str());
  if (stream == nullptr) return false;
  const Placement here = PlacementOf(::dirfd(stream), "");
  FolderItem item;
  while (const dirent* entry = ::readdir(stream)) {
    unsigned char type = entry->d_type;
    if (type == DT_UNKNOWN) {
      // Some file systems leave the type out of the listing; ask for it without following a link.
      struct stat info {};
      if (::fstatat(::dirfd(stream), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
        type = S_ISLNK(info.st_mode) ? DT_LNK : S_ISDIR(info.st_mode) ? DT_DIR : DT_REG;
      }
    }
    const bool dot_name = entry->d_name[0] == '.';
    const bool mounted = type == DT_DIR && !dot_name &&
                         IsMountPoint(here, PlacementOf(::dirfd(stream), entry->d_name));
    // In the file layer's spelling: a backslash in a POSIX name is part of the name.
    item.name = FromNativePath(entry->d_name);
    item.is_link = type == DT_LNK || mounted;
    item.attributes = type == DT_LNK   ? kAttributeReparsePoint
                      : mounted        ? kAttributeDirectory | kAttributeReparsePoint
                      : type == DT_DIR ? kAttributeDirectory
                                       : kAttributeNormal;
    visit(item);
  }
  ::closedir(stream);
  return true;
}

void RenameReplacing(const std::string& from, const std::string& to) {
  if (::rename(NativePath(from).c_str(), NativePath(to).c_str()) != 0) {
    throw ErrorFor("Cannot replace file", to, errno);
  }
}

bool DeleteFileAt(const std::string& path) { return ::unlink(NativePath(path).c_str()) == 0; }

bool RemoveFolder(const std::string& path) { return ::rmdir(NativePath(path).c_str()) == 0; }

std::string GetCurrentFolder() {
  std::vector<char> buffer(256);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) throw ErrorFor("Cannot read the current folder", ".", errno);
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

void SetCurrentFolder(const std::string& path) {
  if (::chdir(NativePath(path).c_str()) != 0) {
    throw ErrorFor("Cannot change the current folder to", path, errno);
  }
}

std::optional<std::string> PlatformTempPath(size_t buffer_chars) {
  const char* variable = std::getenv("TMPDIR");
  std::string folder = variable != nullptr && variable[0] != '\0' ? variable : "/tmp";
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  // Ends in the installer's separator, as GetTempPathA ends its answer in one.
  if (folder.back() != '/') folder += '\\';
  if (folder.size() + 1 > buffer_chars) return std::nullopt;
  return folder;
}

uint32_t LocalDosDateTimeOf(int64_t utc_seconds) {
  const time_t local_seconds = static_cast<time_t>(utc_seconds + LocalOffsetNow().value_or(0));
  struct tm fields {};
  if (gmtime_r(&local_seconds, &fields) == nullptr) return archive::DosDateTimeFromCivil({});
  return archive::DosDateTimeFromCivil({fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday,
                                        fields.tm_hour, fields.tm_min, fields.tm_sec});
}

}  // namespace host
