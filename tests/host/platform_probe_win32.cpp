#include "tests/host/platform_probe.h"

#include <atomic>
#include <cstring>
#include <set>

#include "host/win32.h"

// After the door header: the lean Windows headers leave the device controls out.
#include <winioctl.h>

namespace host_test {
namespace {

constexpr int64_t kUnixEpochAsFileTime = 116444736000000000;  // 1970-01-01 in 100 ns units

// The mount-point form of the reparse data (ntifs.h, which user-mode headers do not carry).
struct MountPointReparseBuffer {
  DWORD reparse_tag;
  WORD reparse_data_length;
  WORD reserved;
  WORD substitute_name_offset;
  WORD substitute_name_length;
  WORD print_name_offset;
  WORD print_name_length;
  WCHAR path_buffer[MAX_PATH * 2];
};
constexpr DWORD kReparseHeaderSize = 8;

int64_t AsInt64(const FILETIME& time) {
  return static_cast<int64_t>(static_cast<uint64_t>(time.dwHighDateTime) << 32 |
                              time.dwLowDateTime);
}

std::optional<WIN32_FILE_ATTRIBUTE_DATA> AttributeDataOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  return data;
}

bool IsReparsePoint(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool MakeJunction(const std::string& link, const std::string& target, std::string& why_not) {
  char full_target[MAX_PATH] = {};
  if (GetFullPathNameA(target.c_str(), MAX_PATH, full_target, nullptr) == 0) {
    why_not = "GetFullPathNameA: " + host::win32::ErrorText(GetLastError());
    return false;
  }
  if (!CreateDirectoryA(link.c_str(), nullptr)) {
    why_not = "CreateDirectoryA: " + host::win32::ErrorText(GetLastError());
    return false;
  }
  const host::win32::UniqueHandle handle(
      CreateFileA(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  MountPointReparseBuffer buffer{};
  buffer.reparse_tag = IO_REPARSE_TAG_MOUNT_POINT;
  const std::string substitute = std::string("\\??\\") + full_target;
  for (size_t i = 0; i < substitute.size(); ++i) {
    buffer.path_buffer[i] = static_cast<unsigned char>(substitute[i]);
  }
  // Substitute name, its NUL, then an empty print name and its NUL.
  buffer.substitute_name_length = static_cast<WORD>(substitute.size() * sizeof(WCHAR));
  buffer.print_name_offset = static_cast<WORD>(buffer.substitute_name_length + sizeof(WCHAR));
  buffer.reparse_data_length = static_cast<WORD>(8 + buffer.print_name_offset + sizeof(WCHAR));
  DWORD returned = 0;
  if (handle.valid() && DeviceIoControl(handle.get(), FSCTL_SET_REPARSE_POINT, &buffer,
                                        kReparseHeaderSize + buffer.reparse_data_length, nullptr, 0,
                                        &returned, nullptr)) {
    return true;
  }
  why_not = "FSCTL_SET_REPARSE_POINT: " + host::win32::ErrorText(GetLastError());
  RemoveDirectoryA(link.c_str());
  return false;
}

ShellMessageCatcher* active_catcher = nullptr;
std::set<HWND> closing;

BOOL CALLBACK CollectStaticText(HWND child, LPARAM context) {
  char class_name[32] = {};
  char text[1024] = {};
  GetClassNameA(child, class_name, sizeof class_name);
  if (std::strcmp(class_name, "Static") == 0 && GetWindowTextA(child, text, sizeof text) > 0) {
    reinterpret_cast<std::string*>(context)->append(text);
  }
  return TRUE;
}

bool IsMessageBoxOfThisThread(HWND window) {
  char class_name[32] = {};
  GetClassNameA(window, class_name, sizeof class_name);
  return std::strcmp(class_name, "#32770") == 0 &&
         GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
}

// A message box is a dialog ("#32770"); the hook sees it the moment it is activated, records its
// text and closes it, so the shell's modal loop returns without anyone at the screen. The hook
// also hears of other programs' windows activated after the box goes (Wine shares one desktop
// between all of them); those are left alone, and a box activated again is not counted twice.
LRESULT CALLBACK CloseMessageBoxes(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_ACTIVATE && active_catcher != nullptr) {
    const HWND window = reinterpret_cast<HWND>(wparam);
    if (IsMessageBoxOfThisThread(window) && closing.insert(window).second) {
      std::string text;
      EnumChildWindows(window, CollectStaticText, reinterpret_cast<LPARAM>(&text));
      active_catcher->Record(text);
      PostMessageA(window, WM_CLOSE, 0, 0);
    }
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

}  // namespace

bool IsWindows() { return true; }

std::string OwnProgramFolder() {
  char buffer[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  const std::string program(buffer, length);
  return program.substr(0, program.find_last_of("\\/"));
}

std::optional<int64_t> LastWriteUtcSeconds(const std::string& path) {
  const std::optional<WIN32_FILE_ATTRIBUTE_DATA> data = AttributeDataOf(path);
  if (!data) return std::nullopt;
  return (AsInt64(data->ftLastWriteTime) - kUnixEpochAsFileTime) / 10'000'000;
}

// Wine on Linux keeps no creation time: it reports the earliest of the Unix change and
// modification times, so setting an old last-write time moves it. There is nothing to check then.
std::optional<FileTimes> TimesOf(const std::string& path) {
  const std::optional<WIN32_FILE_ATTRIBUTE_DATA> data = AttributeDataOf(path);
  if (!data) return std::nullopt;
  FileTimes times;
  if (!host::win32::RunningUnderWine()) times.creation = AsInt64(data->ftCreationTime);
  times.access = AsInt64(data->ftLastAccessTime);
  times.write = AsInt64(data->ftLastWriteTime);
  return times;
}

bool IsWriteProtected(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

// Windows refuses to open a read-only file for writing whoever asks. Wine keeps the read-only
// attribute as Unix permission bits, which do not bind when Wine runs as root.
bool WriteProtectionBinds(const std::string& folder) {
  const std::string probe = folder + "\\write-protection-probe";
  host::win32::UniqueHandle created(CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr,
                                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!created.valid()) return true;
  created.reset();
  SetFileAttributesA(probe.c_str(), FILE_ATTRIBUTE_READONLY);
  const host::win32::UniqueHandle reopened(CreateFileA(
      probe.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  const bool binds = !reopened.valid();
  SetFileAttributesA(probe.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(probe.c_str());
  return binds;
}

// Wine 8 answers CreateSymbolicLinkA with success but makes nothing, so the link is checked on
// disk before it counts.
bool MakeFolderLink(const std::string& link, const std::string& target, std::string& why_not) {
  const BOOL reported = CreateSymbolicLinkA(
      link.c_str(), target.c_str(),
      SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
  const std::string symlink_result =
      reported ? "reported success but made no link" : host::win32::ErrorText(GetLastError());
  if (reported && IsReparsePoint(link)) return true;
  std::string junction_result;
  if (MakeJunction(link, target, junction_result) && IsReparsePoint(link)) return true;
  why_not = "CreateSymbolicLinkA: " + symlink_result + "; junction: " + junction_result;
  return false;
}

ScopedTimeZone::ScopedTimeZone(const std::string& /*zone*/) {}
ScopedTimeZone::~ScopedTimeZone() = default;

ChildGate::ChildGate() {
  static std::atomic<unsigned> counter{0};
  parameter_ = "Local\\host-test-gate-" + std::to_string(GetCurrentProcessId()) + "-" +
               std::to_string(counter++);
  write_end_ = reinterpret_cast<intptr_t>(CreateEventA(nullptr, TRUE, FALSE, parameter_.c_str()));
}

ChildGate::~ChildGate() {
  Open();
  if (write_end_ != 0) CloseHandle(reinterpret_cast<HANDLE>(write_end_));
}

void ChildGate::Open() {
  if (write_end_ != 0) SetEvent(reinterpret_cast<HANDLE>(write_end_));
}

ShellMessageCatcher::ShellMessageCatcher() {
  active_catcher = this;
  closing.clear();
  hook_ = SetWindowsHookExA(WH_CBT, CloseMessageBoxes, nullptr, GetCurrentThreadId());
}

ShellMessageCatcher::~ShellMessageCatcher() {
  if (hook_ != nullptr) UnhookWindowsHookEx(static_cast<HHOOK>(hook_));
  active_catcher = nullptr;
}

}  // namespace host_test
