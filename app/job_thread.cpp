#include "app/job_thread.h"

#include <exception>
#include <utility>

#include "host/files.h"
#include "host/helpers.h"
#include "host/installer_ui.h"
#include "host/process.h"
#include "host/thread.h"

namespace app {

JobThread::JobThread() = default;
JobThread::~JobThread() = default;

void JobThread::Start(std::unique_ptr<JobThread> job, JobEndedCallback on_ended_without_end) {
  JobThread* const raw = job.get();
  if (host::StartDetachedThread(
          [raw, callback = on_ended_without_end]() mutable { Run(raw, std::move(callback)); })) {
    job.release();
  } else {
    job.reset();
    if (on_ended_without_end) on_ended_without_end();
  }
}

void JobThread::Run(JobThread* job, JobEndedCallback on_ended_without_end) {
  // Nothing may leave a thread's entry: whatever Execute lets through ends the thread unseen.
  try {
    job->Execute();
  } catch (...) {
  }
  const bool ended_program = job->ended_program_;
  delete job;
  if (!ended_program && on_ended_without_end) {
    try {
      on_ended_without_end();
    } catch (...) {
    }
  }
}

void JobThread::StartSetupIfPresent() {
  const std::string setup_path = host::AddBackslash(InstallTarget) + "Setup.exe";
  if (!host::FileExists(setup_path)) return;
  const std::string remembered = host::GetCurrentFolder();
  host::SetCurrentFolder(InstallTarget);
  SetupProcess = host::LaunchProgram(setup_path, "");
  host::SetCurrentFolder(remembered);
}

void JobThread::EndProgram() {
  ended_program_ = true;
  host::Ui().EndProgram();
}

}  // namespace app
