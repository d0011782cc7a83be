#include "tests/host/platform_probe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "host/files.h"

namespace host_test {
namespace {

std::optional<struct stat> StatOf(const std::string& path) {
  struct stat info {};
  if (::stat(host::NativePath(path).c_str(), &info) != 0) return std::nullopt;
  return info;
}

int64_t Nanoseconds(const struct timespec& time) {
  return static_cast<int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

std::optional<std::string> ReadVariable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

void RestoreVariable(const std::string& name, const std::optional<std::string>& value) {
  if (value) {
    ::setenv(name.c_str(), value->c_str(), 1);
  } else {
    ::unsetenv(name.c_str());
  }
}

}  // namespace

bool IsWindows() { return false; }

std::string OwnProgramFolder() {
  char buffer[4096] = {};
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return ".";
  const std::string program(buffer, static_cast<size_t>(length));
  return program.substr(0, program.find_last_of('/'));
}

std::optional<int64_t> LastWriteUtcSeconds(const std::string& path) {
  const std::optional<struct stat> info = StatOf(path);
  if (!info) return std::nullopt;
  return static_cast<int64_t>(info->st_mtim.tv_sec);
}

std::optional<FileTimes> TimesOf(const std::string& path) {
  const std::optional<struct stat> info = StatOf(path);
  if (!info) return std::nullopt;
  FileTimes times;
  times.access = Nanoseconds(info->st_atim);
  times.write = Nanoseconds(info->st_mtim);
  return times;
}

bool IsWriteProtected(const std::string& path) {
  const std::optional<struct stat> info = StatOf(path);
  return info && (info->st_mode & 0222) == 0;
}

bool WriteProtectionBinds(const std::string& folder) {
  const std::string probe = host::NativePath(folder) + "/write-protection-probe";
  const int created = ::open(probe.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0444);
  if (created < 0) return true;
  ::close(created);
  const int reopened = ::open(probe.c_str(), O_WRONLY | O_CLOEXEC);
  const bool binds = reopened < 0 && errno == EACCES;
  if (reopened >= 0) ::close(reopened);
  ::unlink(probe.c_str());
  return binds;
}

bool MakeFolderLink(const std::string& link, const std::string& target, std::string& why_not) {
  if (::symlink(host::NativePath(target).c_str(), host::NativePath(link).c_str()) == 0) return true;
  why_not = std::string("symlink failed: ") + std::strerror(errno);
  return false;
}

// glibc's localtime_r does not look at TZ again by itself; tzset makes the change take effect.
ScopedTimeZone::ScopedTimeZone(const std::string& zone)
    : supported_(true), saved_(ReadVariable("TZ")) {
  ::setenv("TZ", zone.c_str(), 1);
  ::tzset();
}

ScopedTimeZone::~ScopedTimeZone() {
  RestoreVariable("TZ", saved_);
  ::tzset();
}

// The read end is inherited by the child (no close-on-exec); the write end is not, so closing the
// test's write end is what the child's read sees as the end of the pipe.
ChildGate::ChildGate() {
  int ends[2] = {-1, -1};
  if (::pipe(ends) != 0) return;
  ::fcntl(ends[1], F_SETFD, FD_CLOEXEC);
  read_end_ = ends[0];
  write_end_ = ends[1];
  parameter_ = std::to_string(ends[0]);
}

ChildGate::~ChildGate() {
  Open();
  if (read_end_ >= 0) ::close(static_cast<int>(read_end_));
}

void ChildGate::Open() {
  if (write_end_ >= 0) ::close(static_cast<int>(write_end_));
  write_end_ = -1;
}

ShellMessageCatcher::ShellMessageCatcher() = default;
ShellMessageCatcher::~ShellMessageCatcher() = default;

}  // namespace host_test
