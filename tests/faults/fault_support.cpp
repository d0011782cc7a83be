#include "tests/faults/fault_support.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "archive/Stacker.h"
#include "host/files.h"

namespace fs = std::filesystem;

namespace fault_testing {
namespace {

constexpr int kChildFailed = 3;
constexpr int kExecFailed = 127;

std::runtime_error SystemFailure(const std::string& what) {
  return std::runtime_error(what + ": " + PlatformText(errno));
}

// A report travels as "<key length>:<key><value length>:<value>" per field.
std::string Encode(const Report& report) {
  std::string encoded;
  for (const auto& [key, value] : report) {
    encoded += std::to_string(key.size()) + ':' + key + std::to_string(value.size()) + ':' + value;
  }
  return encoded;
}

bool DecodeField(const std::string& encoded, size_t& at, std::string& field) {
  const size_t colon = encoded.find(':', at);
  if (colon == std::string::npos) return false;
  const size_t length = std::stoul(encoded.substr(at, colon - at));
  if (colon + 1 + length > encoded.size()) return false;
  field = encoded.substr(colon + 1, length);
  at = colon + 1 + length;
  return true;
}

Report Decode(const std::string& encoded) {
  Report report;
  size_t at = 0;
  std::string key;
  std::string value;
  while (at < encoded.size() && DecodeField(encoded, at, key) && DecodeField(encoded, at, value)) {
    report[key] = value;
  }
  return report;
}

void WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    done += static_cast<size_t>(written);
  }
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return text;
    text.append(buffer, static_cast<size_t>(got));
  }
}

ChildOutcome WaitFor(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw SystemFailure("waitpid");
  }
  ChildOutcome outcome;
  outcome.exited = WIFEXITED(status);
  outcome.exit_code = outcome.exited ? WEXITSTATUS(status) : -1;
  outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return outcome;
}

// Forks; the child runs `child` with the pipe's write end and leaves with its result through
// _exit; the parent collects everything written to the pipe and the child's end.
ChildOutcome ForkAndCollect(const std::function<int(int write_end)>& child, std::string& sent) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) throw SystemFailure("pipe");
  const pid_t pid = ::fork();
  if (pid < 0) throw SystemFailure("fork");
  if (pid == 0) {
    ::close(ends[0]);
    ::_exit(child(ends[1]));
  }
  ::close(ends[1]);
  sent = ReadAll(ends[0]);
  ::close(ends[0]);
  return WaitFor(pid);
}

long StatusValueKiB(const std::string& field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
  }
  throw std::runtime_error("no " + field + " in /proc/self/status");
}

}  // namespace

ChildOutcome RunInChild(const std::function<Report()>& body) {
  std::string sent;
  ChildOutcome outcome = ForkAndCollect(
      [&body](int write_end) {
        int code = 0;
        Report report;
        try {
          report = body();
        } catch (const std::exception& error) {
          report["error"] = error.what();
          code = kChildFailed;
        } catch (...) {
          report["error"] = "an exception that is no std::exception";
          code = kChildFailed;
        }
        WriteAll(write_end, Encode(report));
        return code;
      },
      sent);
  outcome.report = Decode(sent);
  return outcome;
}

std::string Describe(const ChildOutcome& outcome) {
  std::ostringstream text;
  if (outcome.exited) {
    text << "child exited with " << outcome.exit_code;
  } else {
    text << "child ended by signal " << outcome.signal << " (" << strsignal(outcome.signal) << ")";
  }
  for (const auto& [key, value] : outcome.report) text << "; " << key << ": " << value;
  return text.str();
}

void LimitFileSize(rlim_t bytes) {
  if (::signal(SIGXFSZ, SIG_IGN) == SIG_ERR) throw SystemFailure("signal(SIGXFSZ)");
  const struct rlimit limit = {bytes, bytes};
  if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) throw SystemFailure("setrlimit(RLIMIT_FSIZE)");
}

namespace {

void InstallFilter(std::vector<sock_filter> program) {
  struct sock_fprog filter = {static_cast<unsigned short>(program.size()), program.data()};
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) throw SystemFailure("PR_SET_NO_NEW_PRIVS");
  if (::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) != 0) {
    throw SystemFailure("PR_SET_SECCOMP");
  }
}

sock_filter Failure(int error) {
  return BPF_STMT(BPF_RET | BPF_K,
                  SECCOMP_RET_ERRNO | (static_cast<uint32_t>(error) & SECCOMP_RET_DATA));
}

}  // namespace

void FailSystemCalls(const std::vector<long>& calls, int error) {
  std::vector<sock_filter> program = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
  };
  // Each test jumps over the tests after it and the "allow" to reach the failure.
  for (size_t i = 0; i < calls.size(); ++i) {
    program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(calls[i]),
                               static_cast<uint8_t>(calls.size() - i), 0));
  }
  program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  program.push_back(Failure(error));
  InstallFilter(program);
}

void FailReads(int fd, size_t count, int error) {
  const auto fd_value = static_cast<uint32_t>(fd);
  const auto count_value = static_cast<uint32_t>(count);
  // Argument words are read as their low 32 bits (x86-64 is little-endian).
  InstallFilter({
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_read, 1, 0),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_pread64, 0, 5),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, args[0])),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, fd_value, 0, 3),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, args[2])),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, count_value, 0, 1),
      Failure(error),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  });
}

int DescriptorOf(const std::string& path) {
  std::error_code error;
  const fs::path wanted = fs::canonical(host::NativePath(path), error);
  if (error) return -1;
  for (const fs::directory_entry& entry : fs::directory_iterator("/proc/self/fd", error)) {
    std::error_code ignored;
    if (fs::read_symlink(entry.path(), ignored) == wanted) {
      return std::stoi(entry.path().filename().string());
    }
  }
  return -1;
}

bool RunningAsRoot() { return ::geteuid() == 0; }

void DropToNobody() {
  // Groups first: once the user is changed, the right to change them is gone.
  if (::setgroups(0, nullptr) != 0) throw SystemFailure("setgroups");
  if (::setresgid(kNobodyGroup, kNobodyGroup, kNobodyGroup) != 0) {
    throw SystemFailure("setresgid");
  }
  if (::setresuid(kNobodyUser, kNobodyUser, kNobodyUser) != 0) throw SystemFailure("setresuid");
  if (::geteuid() != kNobodyUser || ::setresuid(0, 0, 0) == 0) {
    throw std::runtime_error("the process could take its privileges back");
  }
}

long ResidentKiB() { return StatusValueKiB("VmRSS"); }

long PeakResidentKiB() { return StatusValueKiB("VmHWM"); }

void ResetPeakResident() {
  std::ofstream clear_refs("/proc/self/clear_refs");
  // 5: reset the peak resident size to the present one.
  clear_refs << "5";
  clear_refs.flush();
  if (!clear_refs) throw std::runtime_error("cannot reset the peak resident size");
}

ChildOutcome RunProgramInChild(const std::string& program,
                               const std::vector<std::string>& arguments,
                               const std::function<void()>& prepare) {
  std::string sent;
  ChildOutcome outcome = ForkAndCollect(
      [&](int write_end) {
        std::vector<std::string> argv_strings{program};
        argv_strings.insert(argv_strings.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& argument : argv_strings) argv.push_back(argument.data());
        argv.push_back(nullptr);
        try {
          prepare();
        } catch (const std::exception& error) {
          WriteAll(write_end, std::string("prepare failed: ") + error.what());
          return kChildFailed;
        }
        // An ignored signal and the resource limits stay as they are across execv.
        if (::dup2(write_end, STDOUT_FILENO) < 0 || ::dup2(write_end, STDERR_FILENO) < 0) {
          return kExecFailed;
        }
        ::execv(program.c_str(), argv.data());
        WriteAll(write_end, "execv failed: " + PlatformText(errno));
        return kExecFailed;
      },
      sent);
  outcome.report["output"] = sent;
  return outcome;
}

Bytes PatternBytes(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
  return bytes;
}

Bytes MakeArchive(const std::vector<EntryPlan>& entries) {
  archive::MemoryArchive archive;
  archive::SeedGenerator seeds;
  for (const EntryPlan& entry : entries) {
    archive::EntrySpec spec;
    spec.name = entry.name;
    spec.attributes = entry.folder ? 0x10 : entry.read_only ? 0x21 : 0x20;
    spec.modified = 0x52A46B2E;  // 2021-05-04 13:25:28
    spec.seeds = seeds.Next();
    if (entry.folder) {
      archive.writer().AddFolder(spec);
    } else {
      archive.writer().AddFile(spec, entry.data.data(), entry.data.size());
    }
  }
  return archive.bytes();
}

void UseMemoryArchive(const Bytes& archive) {
  archive::SetArchiveMemory(archive.data(), static_cast<int32_t>(archive.size()));
  archive::SetArchiveKey(archive::kDefaultArchiveKey);
  archive::SetBlockStreamLength(archive::kInstallerBlockStreamLength);
}

void UseFileArchive() {
  archive::SetArchiveMemory(nullptr, 0);
  archive::SetArchiveKey(archive::kDefaultArchiveKey);
  archive::SetBlockStreamLength(archive::kInstallerBlockStreamLength);
}

std::vector<std::string> ExtractPass(const std::string& file_name, const std::string& prefix,
                                     const std::string& target) {
  host::CreateFolderWithParents(target);
  std::vector<std::string> steps;
  archive::EntryHeader header{};
  for (bool found = archive::OpenArchive(file_name, prefix, header); found;
       found = archive::FindNextEntry(header)) {
    const bool extracted = archive::ExtractEntry(header, target);
    steps.push_back(archive::EntryName(header) + (extracted ? ": extracted" : ": failed"));
    if (!extracted) break;
  }
  archive::CloseArchive();
  return steps;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + '\n';
  return text;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(host::NativePath(path), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

Bytes ReadBytes(const std::string& path) {
  std::ifstream in(host::NativePath(path), std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> items;
  const fs::path base(host::NativePath(root));
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(base, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    std::string relative = it->path().lexically_relative(base).generic_string();
    std::replace(relative.begin(), relative.end(), '/', '\\');
    std::error_code ignored;
    const fs::file_status status = it->symlink_status(ignored);
    if (fs::is_symlink(status)) {
      items[relative] = "link to " + fs::read_symlink(it->path(), ignored).string();
    } else if (fs::is_directory(status)) {
      items[relative] = "folder";
    } else {
      items[relative] = "file, " + std::to_string(it->file_size(ignored)) + " bytes";
    }
  }
  return items;
}

std::map<std::string, std::string> Without(std::map<std::string, std::string> snapshot,
                                           const std::string& inside) {
  for (auto it = snapshot.begin(); it != snapshot.end();) {
    const bool below = it->first == inside || it->first.rfind(inside + "\\", 0) == 0;
    it = below ? snapshot.erase(it) : std::next(it);
  }
  return snapshot;
}

std::string PlatformText(int error) { return std::strerror(error); }

void ExpectOneMessage(const ChildOutcome& outcome, int error, const std::string& path) {
  const std::vector<std::string> messages = SplitLines(outcome.report.at("messages"));
  ASSERT_EQ(messages.size(), 1u) << outcome.report.at("messages");
  EXPECT_THAT(messages[0], ::testing::HasSubstr(PlatformText(error)));
  // The platform layer names the path in the platform's spelling.
  EXPECT_THAT(messages[0], ::testing::HasSubstr(host::NativePath(path)));
}

}  // namespace fault_testing
