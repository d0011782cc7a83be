// The two installation jobs of MainUnit, each a JobThread (app/job_thread.h): the library package
// and the application setup.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "app/MainUnit.h"
#include "app/job_thread.h"

namespace app {

// Raised by PrepareLibraryPackage, before anything is deleted, when the second character of
// ManifestIdeSpec is not a decimal digit. Execute does not catch it: the thread ends silently.
class InvalidVersionDigit : public std::exception {
 public:
  const char* what() const noexcept override {
    return "The environment version is not a decimal digit.";
  }
};

// The library-package job.
class TInstallVexilorThread final : public JobThread {
 public:
  void Execute() override;
  // Shows the result for JobStatus and returns when the box was dismissed.
  void ReportResult();
  // Clears the product folder below the environment's root folder (or the temporary folder) and
  // extracts the parts "C" and "S" into it. Throws InvalidVersionDigit, see above; false when the
  // folder name is not a plain relative one or an extraction failed.
  bool PrepareLibraryPackage();

  // 1 = files extracted, 2 = extraction failed.
  int32_t JobStatus = 1;
};

// The application-setup job.
class TInstallQuillonThread final : public JobThread {
 public:
  void Execute() override;
  void ReportResult();
  // Clears "Quillon" below the user's temporary folder and extracts the part "P" into it.
  bool PrepareApplicationSetup();

  int32_t JobStatus = 1;

 private:
  void WaitForSetupThenRemoveFolder();
  void RemoveTemporaryFolder();
};

}  // namespace app
