// The thread object both installation jobs share. A job is created running: StartInstallJob
// (MainUnit.h) hands a new job to JobThread::Start, whose thread runs Execute at once, catches
// whatever Execute lets through without showing it, frees the job and then, when the job did not
// end the program, calls the starter's callback as its last act.
#pragma once

#include <memory>

#include "app/MainUnit.h"

namespace app {

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

}  // namespace app
