// POSIX cannot keep another program from cutting a mapped file short. A byte touched past the new
// end then raises SIGBUS; with OnCutShort set, the process says so and ends with the status
// given, instead of a crash. Run in a forked child, which the test then examines.
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "host/files.h"
#include "host/mapped_file.h"
#include "tests/support/temp_folder.h"

namespace {

using MappedFileCutTest = testing_support::TempFolderTest;

TEST_F(MappedFileCutTest, ATouchPastTheNewEndEndsTheProcessWithTheMessage) {
  const std::string path = temp_.Sub("package.bin");
  testing_support::WriteTextFile(path, std::string(3 * 65'536, 'p'));
  int error_pipe[2];
  ASSERT_EQ(pipe(error_pipe), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(error_pipe[1], STDERR_FILENO);
    host::MappedFile::OnCutShort("cut short under its reader\n", 7);
    const host::MappedFile view = host::MappedFile::Open(path, 1'000'000);
    if (view.size() != 3 * 65'536 || truncate(host::NativePath(path).c_str(), 0) != 0) _exit(1);
    volatile uint8_t touched = view.data()[2 * 65'536];
    (void)touched;
    _exit(0);  // not reached: the touch ends the process
  }
  close(error_pipe[1]);
  std::string said;
  char buffer[256];
  for (ssize_t got; (got = read(error_pipe[0], buffer, sizeof buffer)) > 0;) said.append(buffer, got);
  close(error_pipe[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 7);
  EXPECT_EQ(said, "cut short under its reader\n");
}

}  // namespace
