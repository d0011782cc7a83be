// MainUnit's module-level job values, the extraction pass both jobs use, and the thread object
// that runs a job and frees it.
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "app/MainUnit.h"
#include "app/job_threads.h"
#include "archive/Stacker.h"
#include "archive/entry_header.h"
#include "host/files.h"
#include "host/helpers.h"
#include "host/installer_ui.h"
#include "host/process.h"

namespace app {

std::string InstallTarget;
std::string TemporaryTarget;
std::optional<host::ProcessHandle> SetupProcess;

bool ExtractPart(const std::string& prefix, const std::string& target_folder) {
  host::Ui().SetBusyCursor(true);
  // A folder that cannot be made shows up as the failure of the first file written into it.
  host::CreateFolderWithParents(target_folder);
  bool ok = true;
  archive::EntryHeader header{};
  if (archive::OpenArchive("", prefix, header)) {
    do {
      ok = archive::ExtractEntry(header, target_folder);
    } while (ok && archive::FindNextEntry(header));
  }
  archive::CloseArchive();
  host::Ui().SetBusyCursor(false);
  return ok;
}

namespace {

// Counts the job threads between their start and their last act, so that a caller can wait until
// none runs.
class RunningJobs {
 public:
  void Add() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++count_;
  }
  void Remove() {
    std::lock_guard<std::mutex> lock(mutex_);
    --count_;
    changed_.notify_all();
  }
  bool WaitUntilNone(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return count_ == 0; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int count_ = 0;
};

// Never destroyed: a job thread may still be finishing while the process exits.
RunningJobs& Running() {
  static RunningJobs* const running = new RunningJobs;
  return *running;
}

}  // namespace

JobThread::JobThread() = default;
JobThread::~JobThread() = default;

void JobThread::Start(std::unique_ptr<JobThread> job, JobEndedCallback on_ended_without_end) {
  Running().Add();
  JobThread* const raw = job.get();
  try {
    std::thread([raw, callback = on_ended_without_end]() mutable { Run(raw, std::move(callback)); })
        .detach();
    job.release();
  } catch (const std::system_error&) {
    job.reset();
    Running().Remove();
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
  on_ended_without_end = nullptr;
  Running().Remove();
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

bool WaitUntilNoJobThread(std::chrono::milliseconds timeout) {
  return Running().WaitUntilNone(timeout);
}

void StartInstallJob(archive::JobKind kind, JobEndedCallback on_ended_without_end) {
  std::unique_ptr<JobThread> job;
  if (kind == archive::JobKind::kApplicationSetup) {
    job = std::make_unique<TInstallQuillonThread>();
  } else {
    job = std::make_unique<TInstallVexilorThread>();
  }
  JobThread::Start(std::move(job), std::move(on_ended_without_end));
}

}  // namespace app
