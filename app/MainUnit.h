// The installer application's jobs: what one press of OK sets off. Portable: a job reaches the
// user only through host::Ui() and the platform only through host/, so the same code runs in the
// Windows program and, natively, under tests with a recording UI.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "archive/settings_record.h"
#include "host/process.h"

namespace app {

// Process-wide job values, written only by the running job (one job runs at a time).
extern std::string InstallTarget;
// The application-setup job's folder, removed after its setup ends; empty until that job prepares.
extern std::string TemporaryTarget;
// The setup started by the running job; none at the start of every job.
extern std::optional<host::ProcessHandle> SetupProcess;

// One extraction pass: every entry of `prefix` from the package block into `target_folder`
// (created first, with its parents). Busy cursor around it. True when every entry found was
// extracted; a pass that finds nothing is true.
bool ExtractPart(const std::string& prefix, const std::string& target_folder);

// Called on the job's thread, as its last act, when the thread ends without having called
// EndProgram (after a failure report, or after an error that ended the thread), so the window can
// allow OK again.
using JobEndedCallback = std::function<void()>;

// Creates the job of `kind` as a self-freeing thread that starts running at once. Never throws:
// when no thread can be started, `on_ended_without_end` runs on the calling thread before this
// returns.
void StartInstallJob(archive::JobKind kind, JobEndedCallback on_ended_without_end);

}  // namespace app
