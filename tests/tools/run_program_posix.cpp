#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <cerrno>
#include <stdexcept>

#include "host/files.h"
#include "tests/support/temp_folder.h"
#include "tests/tools/run_program.h"

extern char** environ;

namespace pack_testing {

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& capture_folder) {
  static std::atomic<unsigned> counter{0};
  const std::string stem = capture_folder + "\\run-" + std::to_string(counter++);
  const std::string out_path = host::NativePath(stem + ".out");
  const std::string err_path = host::NativePath(stem + ".err");

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  std::vector<std::string> argv_strings{program};
  argv_strings.insert(argv_strings.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : argv_strings) argv.push_back(argument.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  const int spawn_error =
      posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawn_error != 0) throw std::runtime_error("cannot start " + program);

  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  ProgramResult result;
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  result.crashed = WIFSIGNALED(status);
  result.out = testing_support::ReadWholeFile(stem + ".out");
  result.err = testing_support::ReadWholeFile(stem + ".err");
  return result;
}

std::string ProgramPath(const std::string& build_path) { return build_path; }

}  // namespace pack_testing
