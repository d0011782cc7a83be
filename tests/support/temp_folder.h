// A fresh, empty folder for one test, removed with everything below it when the test ends.
// Paths handed out are in the installer's own spelling (backslashes), which the file layer
// translates on POSIX; NativePath() gives the platform spelling for direct checks.
#pragma once

#include <string>

#include <gtest/gtest.h>

namespace testing_support {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // The folder, ending without a separator, in installer spelling.
  const std::string& path() const { return path_; }
  // path() + "\" + relative (relative in installer spelling).
  std::string Sub(const std::string& relative) const;

 private:
  std::string path_;
};

// A test fixture that owns a TempFolder.
class TempFolderTest : public ::testing::Test {
 protected:
  TempFolder temp_;
};

// Small file helpers for tests, on installer-spelled paths.
void WriteTextFile(const std::string& path, const std::string& contents);
std::string ReadWholeFile(const std::string& path);  // empty when it cannot be read

}  // namespace testing_support
