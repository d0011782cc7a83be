// The two installation job classes of MainUnit and the thread object they share. A job is created
// running: StartInstallJob (MainUnit.h) hands a new job to JobThread::Start, whose thread runs
// Execute at once, catches whatever Execute lets through without showing it, frees the job and
// then, when the job did not end the program, calls the starter's callback as its last act.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "app/MainUnit.h"

namespace app {

// Raised by PrepareLibraryPackage, before anything is deleted, when the second character of
// ManifestIdeSpec is not a decimal digit. Execute does not catch it: the thread ends silently.
class InvalidVersionDigit : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The thread object shared by both jobs.
class JobThread {
 public:
  JobThread();
  JobThread(const JobThread&) = delete;
  JobThread& operator=(const JobThread&) = delete;
  virtual ~JobThread();

  // Starts `job` on a detached thread of its own. The thread owns the job from then on: it frees
  // it when Execute returns or throws. If no thread can be started, the job is freed and
  // `on_ended_without_end` runs on the calling thread before Start returns.
  static void Start(std::unique_ptr<JobThread> job, JobEndedCallback on_ended_without_end);

  // The thread body.
  virtual void Execute() = 0;

 protected:
  // Step shared by both jobs: starts "Setup.exe" from InstallTarget when a file of that name is
  // there, with the current folder set to InstallTarget meanwhile. A failure to change the current
  // folder passes to the caller.
  static void StartSetupIfPresent();
  // Ends the program through the user interface and remembers that it did so.
  void EndProgram();

 private:
  static void Run(JobThread* job, JobEndedCallback on_ended_without_end);

  bool ended_program_ = false;
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

// Blocks until no job thread is running any more (its job freed and its callback returned), or
// the time-out passes; returns whether that happened. For tests and for an orderly shutdown.
bool WaitUntilNoJobThread(std::chrono::milliseconds timeout);

}  // namespace app
