#include "host/process.h"

#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>

#include <cerrno>
#include <chrono>
#include <vector>

#include "host/files.h"

extern char** environ;

namespace host {
namespace {

constexpr std::chrono::milliseconds kRunningWait{10};
constexpr long kPollIntervalNanoseconds = 1'000'000;

// True when the child has ended (and is now reaped) or is not ours to wait for.
bool HasEnded(pid_t pid) {
  int status = 0;
  pid_t result;
  do {
    result = ::waitpid(pid, &status, WNOHANG);
  } while (result < 0 && errno == EINTR);
  return result != 0;
}

}  // namespace

std::optional<ProcessHandle> LaunchProgram(const std::string& path, const std::string& parameters) {
  std::string program = NativePath(path);
  std::string argument = parameters;
  std::vector<char*> arguments{program.data()};
  if (!argument.empty()) arguments.push_back(argument.data());
  arguments.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawn(&pid, program.c_str(), nullptr, nullptr, arguments.data(), environ) != 0) {
    return std::nullopt;
  }
  return ProcessHandle{pid};
}

// POSIX offers no bounded wait on a child, so the 10 ms are spent polling waitpid. Once the child
// has been reaped, waitpid reports that it is not a child any more, which also means "ended".
bool IsProcessRunning(const std::optional<ProcessHandle>& process) {
  if (!process || process->native <= 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + kRunningWait;
  for (;;) {
    if (HasEnded(process->native)) return false;
    if (std::chrono::steady_clock::now() >= deadline) return true;
    const struct timespec pause = {0, kPollIntervalNanoseconds};
    ::nanosleep(&pause, nullptr);
  }
}

}  // namespace host
