#include <atomic>
#include <stdexcept>

#include "host/win32.h"
#include "tests/support/start_process_win32.h"
#include "tests/support/temp_folder.h"
#include "tests/tools/run_program.h"

namespace pack_testing {
namespace {

// Quotes one argument the way the C runtime's command-line parser splits it again.
std::string QuoteArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

host::win32::UniqueHandle InheritableOutput(const std::string& path) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  host::win32::UniqueHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                             &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                             nullptr));
  if (!file.valid()) throw std::runtime_error("cannot create " + path);
  return file;
}

}  // namespace

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& capture_folder) {
  static std::atomic<unsigned> counter{0};
  const std::string stem = capture_folder + "\\run-" + std::to_string(counter++);
  ProgramResult result;
  {
    host::win32::UniqueHandle out = InheritableOutput(stem + ".out");
    host::win32::UniqueHandle err = InheritableOutput(stem + ".err");
    std::string command_line = QuoteArgument(program);
    for (const std::string& argument : arguments) command_line += " " + QuoteArgument(argument);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out.get();
    startup.hStdError = err.get();
    PROCESS_INFORMATION process{};
    if (!testing_support::CreateProcessOverWineDefect(program, [&] {
          return CreateProcessA(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0,
                                nullptr, nullptr, &startup, &process);
        })) {
      const DWORD error = GetLastError();
      out.reset();
      err.reset();
      // A child that died while starting may have said why on its error output.
      throw std::runtime_error("cannot start " + program + ": " + host::win32::ErrorText(error) +
                               " (error " + std::to_string(error) + "); its error output: \"" +
                               testing_support::ReadWholeFile(stem + ".err") + "\"");
    }
    host::win32::UniqueHandle process_handle(process.hProcess);
    host::win32::UniqueHandle thread_handle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exit_code = 0;
    GetExitCodeProcess(process.hProcess, &exit_code);
    // An unhandled exception ends a process with its NTSTATUS code (0xC0000005 and the like).
    result.crashed = exit_code >= 0xC0000000u;
    result.exit_code = result.crashed ? -1 : static_cast<int>(exit_code);
  }
  result.out = testing_support::ReadWholeFile(stem + ".out");
  result.err = testing_support::ReadWholeFile(stem + ".err");
  return result;
}

std::string ProgramPath(const std::string& build_path) {
  if (build_path.empty() || build_path[0] != '/') return build_path;
  std::string path = "Z:" + build_path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

}  // namespace pack_testing
