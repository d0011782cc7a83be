// The bodies of the two installation jobs.
#include "app/install_jobs.h"

#include "archive/manifest.h"
#include "archive/package_rules.h"
#include "host/LibraryInstall.h"
#include "host/files.h"
#include "host/helpers.h"
#include "host/installer_ui.h"
#include "host/process.h"
#include "host/thread.h"

namespace app {
namespace {

constexpr char kUnpackedTo[] = "All files are unpacked to:\r";
constexpr char kUnpackingFailed[] = "Error while unpacking files!";

// False also when the folder cannot be listed: then nothing says it is only waiting to go.
bool FolderIsEmpty(const std::string& folder) {
  bool holds_items = false;
  const bool listed = host::ListFolder(folder, [&](const host::FolderItem& item) {
    if (item.name != "." && item.name != "..") holds_items = true;
  });
  return listed && !holds_items;
}

}  // namespace

bool TInstallVexilorThread::PrepareLibraryPackage() {
  const std::string ide_spec = archive::ManifestIdeSpec + "00";
  const std::string environment = ide_spec[0] == 'D'   ? "Delphi"
                                  : ide_spec[0] == 'C' ? "C++Builder"
                                                       : "";
  if (ide_spec[1] < '0' || ide_spec[1] > '9') {
    throw InvalidVersionDigit();
  }
  const int version = ide_spec[1] - '0';
  // Freed when the preparation returns, whichever way.
  const host::TComponentInstall install = host::TComponentInstall::Create(environment, version);
  InstallTarget = install.RootFolder();
  if (InstallTarget.empty()) InstallTarget = host::GetTempFolder();

  const std::string folder_name =
      archive::ManifestFolderName.empty() ? std::string("Vexilor") : archive::ManifestFolderName;
  // Anything but a plain relative name could make DeleteTree clear the root folder itself or a
  // folder outside it.
  if (!archive::IsPlainRelativeFolderName(folder_name)) return false;
  InstallTarget = host::AddBackslash(InstallTarget) + folder_name;

  host::DeleteTree(InstallTarget);
  bool ok = ExtractPart("C", InstallTarget);
  if (ok) ok = ExtractPart("S", InstallTarget);
  return ok;
}

void TInstallVexilorThread::ReportResult() {
  host::Ui().ShowUserMessage(JobStatus == 1 ? kUnpackedTo + InstallTarget : kUnpackingFailed);
}

void TInstallVexilorThread::Execute() {
  JobStatus = 1;
  SetupProcess.reset();
  if (!PrepareLibraryPackage()) {
    JobStatus = 2;
    ReportResult();
    return;
  }
  ReportResult();
  StartSetupIfPresent();
  EndProgram();
}

bool TInstallQuillonThread::PrepareApplicationSetup() {
  // No fallbacks while the platform answers; without an answer the folder would be relative, so
  // then take the same chain of fallbacks as every other temporary folder.
  const std::optional<std::string> platform_temp = host::PlatformTempPath(256);
  const std::string temp = platform_temp ? *platform_temp : host::GetTempFolder();
  InstallTarget = host::AddBackslash(temp) + "Quillon";
  TemporaryTarget = InstallTarget;
  host::DeleteTree(InstallTarget);
  return ExtractPart("P", InstallTarget);
}

void TInstallQuillonThread::ReportResult() {
  host::Ui().ShowUserMessage(JobStatus == 1
                                 ? kUnpackedTo + InstallTarget + "\r\rQuillon setup will start now"
                                 : kUnpackingFailed);
}

void TInstallQuillonThread::WaitForSetupThenRemoveFolder() {
  host::Ui().SetStatusText("Waiting for Setup to finish...");
  do {
    host::SleepMilliseconds(100);
  } while (host::IsProcessRunning(SetupProcess));
  host::Ui().SetStatusText("Setup finished, removing temporary files...");
  RemoveTemporaryFolder();
}

// The folder an ended setup was started in can stay in use for a while after its process reports
// the end: Wine keeps a started program's first current folder open for 100 ms to more than 2 s on
// a busy machine, and a scanner may still hold a file it was shown. The removal is therefore
// repeated while the folder is still there: for up to 10 s while only the emptied folder stays
// (it is waiting for the ended process to be gone), for up to 2 s while files stay (held by a
// scanner, or read-only, which DeleteTree leaves and waiting does not change).
void TInstallQuillonThread::RemoveTemporaryFolder() {
  constexpr unsigned kPauseMilliseconds = 100;
  constexpr int kAttemptsWhileFilesStay = 20;
  constexpr int kAttemptsWhileOnlyTheFolderStays = 100;
  host::DeleteTree(TemporaryTarget);
  for (int attempt = 1; host::FolderExists(TemporaryTarget); ++attempt) {
    const int attempts = FolderIsEmpty(TemporaryTarget) ? kAttemptsWhileOnlyTheFolderStays
                                                        : kAttemptsWhileFilesStay;
    if (attempt >= attempts) break;
    host::SleepMilliseconds(kPauseMilliseconds);
    host::DeleteTree(TemporaryTarget);
  }
}

void TInstallQuillonThread::Execute() {
  JobStatus = 1;
  SetupProcess.reset();
  if (!PrepareApplicationSetup()) {
    JobStatus = 2;
    ReportResult();
    return;
  }
  ReportResult();
  StartSetupIfPresent();
  if (SetupProcess && !TemporaryTarget.empty()) WaitForSetupThenRemoveFolder();
  EndProgram();
}

}  // namespace app
