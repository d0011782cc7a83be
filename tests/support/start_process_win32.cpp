#include "tests/support/start_process_win32.h"

#include <cstdio>
#include <cstdlib>

namespace testing_support {
namespace {

constexpr int kStartsAfterTheDefect = 2;

void RecordDefect(const std::string& what) {
  const char* const log = std::getenv("SETUP_WINE_DEFECT_LOG");
  if (log == nullptr || log[0] == '\0') return;
  // The test run names it by its POSIX path, which Wine shows on drive Z:.
  std::string path = log[0] == '/' ? std::string("Z:") + log : std::string(log);
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  // Binary: the run reads the record on POSIX, one LF per line.
  if (std::FILE* const file = std::fopen(path.c_str(), "ab")) {
    std::fprintf(file, "CreateProcess of %s: Internal error (died in Wine's loader); started again\n",
                 what.c_str());
    std::fclose(file);
  }
}

}  // namespace

BOOL CreateProcessOverWineDefect(const std::string& what,
                                 const std::function<BOOL()>& create_process) {
  for (int attempt = 0;; ++attempt) {
    const BOOL created = create_process();
    const DWORD error = GetLastError();
    if (created || error != ERROR_INTERNAL_ERROR || attempt == kStartsAfterTheDefect ||
        !host::win32::RunningUnderWine()) {
      SetLastError(error);
      return created;
    }
    RecordDefect(what);
    std::fprintf(stderr, "wine defect: CreateProcess of %s failed with Internal error; started "
                 "again\n", what.c_str());
  }
}

}  // namespace testing_support
