// extract reads the package file once and holds that one copy while it works: its peak resident
// size grows with the package by the file's size and no more, whatever the entries (many small
// ones, a large one, a prefix): nothing is copied per entry, and the data is never held twice.
// setup-pack runs as a child here, so that its peak resident size is its own (from wait4). A child starts out with the peak of the
// process it was started from, so the test makes its own peak its present size before each start.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "archive/archive_writer.h"
#include "host/files.h"
#include "tests/support/built_programs.h"
#include "tests/support/temp_folder.h"

extern char** environ;

namespace {

struct ChildRun {
  int exit_code = -1;
  long peak_kib = 0;
};

// Resets this process's peak resident size to its present size.
bool ResetPeakResidentSize() {
  std::FILE* clear_refs = std::fopen("/proc/self/clear_refs", "w");
  if (clear_refs == nullptr) return false;
  const bool written = std::fputs("5", clear_refs) >= 0;
  return std::fclose(clear_refs) == 0 && written;
}

ChildRun RunSetupPack(const std::vector<std::string>& arguments) {
  std::vector<std::string> strings{testing_support::SetupPackProgram()};
  strings.insert(strings.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : strings) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int error = posix_spawn(&pid, testing_support::SetupPackProgram(), &actions, nullptr,
                                argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ChildRun run;
  if (error != 0) return run;
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
  run.peak_kib = usage.ru_maxrss;
  return run;
}

archive::EntrySpec Spec(const std::string& name) {
  archive::EntrySpec spec;
  spec.name = name;
  spec.seeds = {7, 11, 13, 17};
  return spec;
}

// About 16 MB of file data in `files` entries of equal size, in folders of 100.
std::vector<uint8_t> Package(size_t files, const std::string& extra_file = {}) {
  archive::MemoryArchive archive;
  const size_t size = 16'000'000 / files;
  for (size_t i = 0; i < files; ++i) {
    const std::string folder = "C\\f" + std::to_string(i / 100);
    if (i % 100 == 0) archive.writer().AddFolder(Spec(folder));
    archive.writer().AddFile(Spec(folder + "\\" + std::to_string(i) + ".bin"),
                             std::string(size, static_cast<char>('a' + i % 26)));
  }
  if (!extra_file.empty()) archive.writer().AddFile(Spec("C\\extra.bin"), extra_file);
  return archive.bytes();
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  testing_support::WriteTextFile(path, std::string(bytes.begin(), bytes.end()));
}

// Writes Package(files, extra) to `path` from a forked child: the memory used to build it goes
// with the child and never adds to this process's resident size, which setup-pack would start
// with. False when the child failed.
bool WritePackageFile(const std::string& path, size_t files, size_t extra_file_size) {
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    try {
      WriteBytes(path, Package(files, std::string(extra_file_size, 'x')));
    } catch (...) {
      _exit(1);
    }
    _exit(0);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

using ExtractMemoryTest = testing_support::TempFolderTest;

TEST_F(ExtractMemoryTest, PeakResidentSizeGrowsByThePackageReadOnce) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer keeps freed memory resident on purpose";
#endif
  struct Case {
    const char* name;
    size_t files;
    size_t extra_file_size;
    std::vector<std::string> options;
  };
  const Case cases[] = {
      {"4,000 entries of 4 KB", 4'000, 0, {}},
      {"4,000 entries of 4 KB and one of 3 MB", 4'000, 3'000'000, {}},
      {"4,000 entries of 4 KB, extracted by prefix", 4'000, 0, {"--prefix", "C"}},
      {"one entry of 16 MB", 1, 0, {}},
  };
  {
    archive::MemoryArchive tiny;
    tiny.writer().AddFile(Spec("C\\one.txt"), "one");
    WriteBytes(temp_.Sub("tiny.pak"), tiny.bytes());
  }
  ASSERT_TRUE(ResetPeakResidentSize());
  const ChildRun small = RunSetupPack({"extract", host::NativePath(temp_.Sub("tiny.pak")),
                                  host::NativePath(temp_.Sub("tiny"))});
  ASSERT_EQ(small.exit_code, 0);

  int row = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = "package" + std::to_string(row++);
    ASSERT_TRUE(WritePackageFile(temp_.Sub(name + ".pak"), c.files, c.extra_file_size));
    std::vector<std::string> arguments{"extract"};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    arguments.push_back(host::NativePath(temp_.Sub(name + ".pak")));
    arguments.push_back(host::NativePath(temp_.Sub(name)));

    ASSERT_TRUE(ResetPeakResidentSize());
    const ChildRun large = RunSetupPack(arguments);

    ASSERT_EQ(large.exit_code, 0);
    // The file read once, and 3 MiB for everything else; a second copy of the package, or even a
    // quarter of one, would add 4 MB or more.
    const long file_kib = static_cast<long>(
        (16'000'000 + c.extra_file_size + (c.files + c.files / 100 + 1) * 272) / 1024);
    EXPECT_LT(large.peak_kib - small.peak_kib, file_kib + 3 * 1024)
        << "peak " << large.peak_kib << " KiB against " << small.peak_kib << " KiB";
  }
}

}  // namespace
