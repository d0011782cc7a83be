// One installer at a time in a user session. Every application job clears and fills the same
// folder below the user's temporary folder, and two library jobs of one package the same product
// folder: two installers running at once would delete what the other writes. An installer that
// finds another one running brings that one's window to the front and ends, before its own window
// shows and without touching the disk.
#pragma once

#include "host/win32.h"

namespace app {

// Takes the session-wide installer lock for the rest of the process's life (the system lets it go
// when the process ends, however it ends). False when another installer holds it. When the lock
// cannot be made at all, the installer runs as if alone.
bool AcquireInstallerLock();

// Marks `form` as the window of the running installer, for a later start to find.
void MarkInstallerForm(HWND form);

// Brings the window of the installer that holds the lock to the front: its message box when one
// is up, its form otherwise. Waits a few seconds for a form that is still being made.
void BringRunningInstallerToFront();

}  // namespace app
