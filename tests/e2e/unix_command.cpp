#include "tests/e2e/unix_command.h"
#include "tests/support/start_process_win32.h"

#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

namespace e2e {
namespace {

// Wine's own exports from kernel32; absent on Windows.
using UnixNameFunction = char*(CDECL*)(const WCHAR*);

constexpr char kHostShell[] = "/bin/sh";

std::wstring Wide(const std::string& text) {
  const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
  wide.resize(static_cast<size_t>(length - 1));
  return wide;
}

// One argument spelled so that the usual Windows command-line rules (which Wine applies when it
// hands a command line to a host program) give it back unchanged.
std::string WindowsArgument(const std::string& argument) {
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      quoted.append(backslashes * 2 + 1, '\\');
    } else {
      quoted.append(backslashes, '\\');
    }
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

std::string StatusFilePath() {
  static std::atomic<unsigned> counter{0};
  char folder[MAX_PATH + 1] = {};
  GetTempPathA(MAX_PATH, folder);
  std::ostringstream name;
  name << folder << "setup-e2e-host-" << GetCurrentProcessId() << "-" << counter++ << ".status";
  return name.str();
}

std::optional<int> ReadStatus(const std::string& path) {
  std::ifstream in(path);
  int status = -1;
  if (in >> status) return status;
  return std::nullopt;
}

}  // namespace

std::string UnixPath(const std::string& windows_path) {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  const FARPROC address = kernel ? GetProcAddress(kernel, "wine_get_unix_file_name") : nullptr;
  if (!address) return {};
  const auto unix_name = reinterpret_cast<UnixNameFunction>(reinterpret_cast<void (*)()>(address));
  char* name = unix_name(Wide(windows_path).c_str());
  if (!name) return {};
  std::string result(name);
  HeapFree(GetProcessHeap(), 0, name);
  return result;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::optional<int> RunUnixShell(const std::string& script, std::chrono::milliseconds patience) {
  const std::string status_path = StatusFilePath();
  const std::string status_unix = UnixPath(status_path);
  const std::string shell = WindowsPath(kHostShell);
  if (status_unix.empty() || GetFileAttributesA(shell.c_str()) == INVALID_FILE_ATTRIBUTES) {
    std::fprintf(stderr, "RunUnixShell: no host shell at %s (not under Wine?)\n", shell.c_str());
    return std::nullopt;
  }
  DeleteFileA(status_path.c_str());
  const std::string part = ShellQuote(status_unix + ".part");
  const std::string wrapped = "(\n" + script + "\n); echo $? > " + part + " && mv " + part + " " +
                              ShellQuote(status_unix);
  std::string command = "sh -c " + WindowsArgument(wrapped);
  std::vector<char> line(command.begin(), command.end());
  line.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!testing_support::CreateProcessOverWineDefect(shell, [&] {
        return CreateProcessA(shell.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              nullptr, &startup, &info);
      })) {
    std::fprintf(stderr, "RunUnixShell: cannot start %s: %s\n", shell.c_str(),
                 host::win32::ErrorText(GetLastError()).c_str());
    return std::nullopt;
  }
  // Wine starts a host program without a Windows process behind it, and what it hands back as
  // the thread's handle is no handle of ours: closing it closed another object (Wine ignores a
  // handle's two low bits, so "6" closed handle 4, the folder of the session's named objects, and
  // every event created by name after it failed). Only handles of a real thread and process are
  // closed; the shell is followed through its status file.
  if (info.hThread && GetThreadId(info.hThread) != 0) CloseHandle(info.hThread);
  if (info.hProcess && GetProcessId(info.hProcess) != 0) CloseHandle(info.hProcess);
  std::optional<int> status;
  WaitFor(
      [&] {
        status = ReadStatus(status_path);
        return status.has_value();
      },
      nullptr, patience);
  DeleteFileA(status_path.c_str());
  return status;
}

}  // namespace e2e
