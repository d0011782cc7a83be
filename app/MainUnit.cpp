// MainUnit's module-level job values, the extraction pass both jobs use, and the start of a job.
#include "app/MainUnit.h"

#include <memory>
#include <utility>

#include "app/install_jobs.h"
#include "archive/Stacker.h"
#include "archive/entry_header.h"
#include "host/files.h"
#include "host/installer_ui.h"

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
