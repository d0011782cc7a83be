// The installer checks itself before anything else: a download cut short, or damaged on its way,
// must never install broken files (nor clear a folder for them).
#pragma once

namespace app {

// True when the program file holds all of its sections' data (and its certificate table, when
// signed), and the archive matches the length and CRC-32 that the packing tool stored beside it.
// An image whose settings record holds no length (a template, an older tool's installer) has no
// archive check; the file's size is checked all the same.
bool InstallerIsIntact();

// The message box that says so, titled with the application title.
void ReportDamagedInstaller();

}  // namespace app
