// MainUnit's module-level job values, the extraction pass both jobs use, and the start of a job.
#include "app/MainUnit.h"

#include <memory>
#include <utility>

#include "app/entry_writers.h"
#include "app/install_jobs.h"
#include "archive/Stacker.h"
#include "archive/entry_header.h"
#include "host/files.h"
#include "host/installer_ui.h"

namespace app {

std::string InstallTarget;
std::string TemporaryTarget;
std::optional<host::ProcessHandle> SetupProcess;

namespace {

// Waits for the files handed to the writers (a failure among them is shown). False after a failure.
bool SettleWriters(EntryWriters& writers) { return !writers.Finish(); }

// The current entry, number `match`: a new small file goes to the writers; every other entry
// (a folder, a large file, a name with more than one spelling) is extracted by the reader itself
// once the files before it are written, so that what the user can see keeps the entries' order.
bool ExtractOrHandOver(archive::EntryHeader& header, size_t match,
                       const std::string& target_folder, EntryWriters& writers) {
  if (std::optional<HandOver> file = HandOverOf(header, target_folder)) {
    return writers.Add(match, header, std::move(*file)) || SettleWriters(writers);
  }
  return SettleWriters(writers) && archive::ExtractEntry(header, target_folder);
}

}  // namespace

bool ExtractPart(const std::string& prefix, const std::string& target_folder) {
  host::Ui().SetBusyCursor(true);
  // A folder that cannot be made shows up as the failure of the first file written into it.
  host::CreateFolderWithParents(target_folder);
  bool ok = true;
  {
    EntryWriters writers(kWriterThreads);
    archive::EntryHeader header{};
    if (archive::OpenArchive("", prefix, header)) {
      size_t match = 0;
      do {
        ok = ExtractOrHandOver(header, match++, target_folder, writers);
      } while (ok && archive::FindNextEntry(header));
    }
    if (ok) ok = SettleWriters(writers);
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
