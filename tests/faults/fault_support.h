// What the fault-injection tests share: running a piece of a test in a forked child (so that a
// file size limit, an ignored signal or a dropped user never reaches the other tests), archives
// made by the project's writer, and a listing of what lies on disk to show what a fault left.
// POSIX only.
#pragma once

#include <sys/resource.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "archive/archive_writer.h"

namespace fault_testing {

using Bytes = std::vector<uint8_t>;

// ---- Child processes ----

// Named text fields that a child sends back to the test.
using Report = std::map<std::string, std::string>;

struct ChildOutcome {
  bool exited = false;  // ended by _exit rather than by a signal
  int exit_code = -1;
  int signal = 0;  // the signal that ended it, or 0
  Report report;
};

// Runs `body` in a forked child and returns its report. An exception thrown by `body` ends the
// child with exit code 3 and its text in report["error"]. The child leaves through _exit, so no
// destructor or exit handler of the test program runs there.
ChildOutcome RunInChild(const std::function<Report()>& body);
// A one-line account of a child's end, for failure messages.
std::string Describe(const ChildOutcome& outcome);

// In a child: files it writes may grow to `bytes` at most, and SIGXFSZ is ignored, so that a
// write beyond the limit fails with EFBIG instead of ending the process. Throws on failure.
void LimitFileSize(rlim_t bytes);

// In a child: from now on every read or pread of `count` bytes from the descriptor `fd` fails
// with `error` (a seccomp filter; it cannot be lifted). Throws when the kernel refuses it.
void FailReads(int fd, size_t count, int error);
// In a child: from now on the system calls numbered `calls` fail with `error`, whatever their
// arguments. Throws when the kernel refuses the filter.
void FailSystemCalls(const std::vector<long>& calls, int error);
// The descriptor this process holds open on the file at `path` (installer spelling), or -1.
int DescriptorOf(const std::string& path);

// The unprivileged user and group that the permission tests become.
constexpr uid_t kNobodyUser = 65534;
constexpr gid_t kNobodyGroup = 65534;
bool RunningAsRoot();
// In a child: gives up every privilege for good and becomes kNobodyUser/kNobodyGroup. Throws when
// the kernel refuses.
void DropToNobody();

// This process's resident size now and its peak so far, in KiB, from /proc/self/status. A forked
// child's peak starts at its resident size when it was forked, not at its parent's peak. Throws
// when the values cannot be read.
long ResidentKiB();
long PeakResidentKiB();
// Makes the peak the resident size now (through /proc/self/clear_refs). Throws on failure.
void ResetPeakResident();

// Runs `program` with `arguments` in a child that first applies `prepare`, and returns its exit
// and what it wrote to its standard output and error together (report["output"]).
ChildOutcome RunProgramInChild(const std::string& program,
                               const std::vector<std::string>& arguments,
                               const std::function<void()>& prepare);

// ---- Archives ----

// Deterministic bytes: the same size and seed give the same bytes.
Bytes PatternBytes(size_t size, uint32_t seed);

// One entry to write: a folder when `folder` is set, else a file holding `data`.
struct EntryPlan {
  std::string name;
  bool folder = false;
  Bytes data;
  bool read_only = false;
};
// The archive of `entries` under the installer's key and block stream length.
Bytes MakeArchive(const std::vector<EntryPlan>& entries);

// One extraction pass as the jobs run it, on the source already set (`file_name` empty: the memory
// source): the target folder is created, then every entry of `prefix` is extracted until one
// fails. Each entry found gives "NAME: extracted" or "NAME: failed", in order.
std::vector<std::string> ExtractPass(const std::string& file_name, const std::string& prefix,
                                     const std::string& target);
// The lines joined with newlines, and split again: how lists travel in a Report.
std::string JoinLines(const std::vector<std::string>& lines);
std::vector<std::string> SplitLines(const std::string& text);

// Makes `archive` the reader's memory source, with the installer's key and block stream length.
void UseMemoryArchive(const Bytes& archive);
// Drops the memory source (walks then read the archive file they name), with the installer's key
// and block stream length.
void UseFileArchive();

// Writes `bytes` to the file at `path` (installer spelling). Throws on failure.
void WriteBytes(const std::string& path, const Bytes& bytes);
Bytes ReadBytes(const std::string& path);

// ---- What lies on disk ----

// Everything below `root` (installer spelling), links not followed: the relative path in
// installer spelling mapped to "folder", "file, N bytes" or "link to TARGET". Empty when `root`
// does not exist.
std::map<std::string, std::string> Snapshot(const std::string& root);
// Drops the items of `inside` (a relative path, and everything below it) from a snapshot.
std::map<std::string, std::string> Without(std::map<std::string, std::string> snapshot,
                                           const std::string& inside);

// The strerror text of an errno value: the platform's own wording that messages carry.
std::string PlatformText(int error);
// Checks that the child's report["messages"] holds exactly one message, and that it names `path`
// with the platform's text for `error`. Call it inside ASSERT_NO_FATAL_FAILURE.
void ExpectOneMessage(const ChildOutcome& outcome, int error, const std::string& path);

}  // namespace fault_testing
