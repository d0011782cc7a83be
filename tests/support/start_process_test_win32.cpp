// The Wine-defect handling of test program starts: exactly ERROR_INTERNAL_ERROR under Wine starts
// the program again (and is recorded); every other failure, and success, is returned at once.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/start_process_win32.h"
#include "tests/support/temp_folder.h"

namespace testing_support {
namespace {

// Points SETUP_WINE_DEFECT_LOG at a file of the test's own for the object's lifetime, so that
// the scripted defects never reach the run's record.
class ScopedDefectLog {
 public:
  explicit ScopedDefectLog(const std::string& path) {
    if (const char* value = std::getenv(kVariable)) saved_ = value;
    _putenv_s(kVariable, path.c_str());
  }
  ~ScopedDefectLog() { _putenv_s(kVariable, saved_.c_str()); }
  ScopedDefectLog(const ScopedDefectLog&) = delete;
  ScopedDefectLog& operator=(const ScopedDefectLog&) = delete;

 private:
  static constexpr const char* kVariable = "SETUP_WINE_DEFECT_LOG";
  std::string saved_;
};

// A stand-in for CreateProcessA that fails with the given errors in turn, then succeeds.
struct ScriptedStart {
  std::vector<DWORD> failures;
  int calls = 0;
  BOOL operator()() {
    const size_t call = static_cast<size_t>(calls++);
    if (call < failures.size()) {
      SetLastError(failures[call]);
      return FALSE;
    }
    return TRUE;
  }
};

TEST(StartProcessTest, OnlyTheInternalErrorUnderWineIsAnsweredByAnotherStart) {
  TempFolder temp;
  const ScopedDefectLog log(temp.Sub("defects.log"));
  struct Case {
    const char* what;
    std::vector<DWORD> failures;
    BOOL result_under_wine;
    int calls_under_wine;
  };
  const Case cases[] = {
      {"started at once", {}, TRUE, 1},
      {"the defect once", {ERROR_INTERNAL_ERROR}, TRUE, 2},
      {"the defect twice", {ERROR_INTERNAL_ERROR, ERROR_INTERNAL_ERROR}, TRUE, 3},
      {"the defect three times: given up",
       {ERROR_INTERNAL_ERROR, ERROR_INTERNAL_ERROR, ERROR_INTERNAL_ERROR}, FALSE, 3},
      {"another failure", {ERROR_FILE_NOT_FOUND}, FALSE, 1},
      {"the defect, then another failure", {ERROR_INTERNAL_ERROR, ERROR_ACCESS_DENIED}, FALSE, 2},
  };
  const bool wine = host::win32::RunningUnderWine();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedStart start{c.failures};
    const BOOL result = CreateProcessOverWineDefect("program", [&] { return start(); });
    // On Windows the error is never taken for the defect.
    EXPECT_EQ(result, wine ? c.result_under_wine : (c.failures.empty() ? TRUE : FALSE));
    EXPECT_EQ(start.calls, wine ? c.calls_under_wine : 1);
    if (!result) {
      EXPECT_EQ(GetLastError(), c.failures[static_cast<size_t>(start.calls) - 1]);
    }
  }
}

TEST(StartProcessTest, EachDefectIsRecorded) {
  if (!host::win32::RunningUnderWine()) GTEST_SKIP() << "the defect is Wine's";
  TempFolder temp;
  const std::string path = temp.Sub("defects.log");
  const ScopedDefectLog log(path);
  ScriptedStart start{{ERROR_INTERNAL_ERROR, ERROR_INTERNAL_ERROR}};
  EXPECT_TRUE(CreateProcessOverWineDefect("scripted-program", [&] { return start(); }));
  const std::string line =
      "CreateProcess of scripted-program: Internal error (died in Wine's loader); started again\n";
  EXPECT_EQ(ReadWholeFile(path), line + line);
}

}  // namespace
}  // namespace testing_support
