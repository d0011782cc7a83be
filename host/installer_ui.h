// The four operations by which the archive reader, the manifest reader and the jobs reach the
// user. Callers depend only on this declaration; the window installs the real implementation at
// its creation, a tool installs a console one, and a test installs a recording one.
//
// Contract for implementations: a call made on the interface thread is carried out at once; a call
// from another thread is handed to the interface thread. ShowUserMessage returns only after the
// box was dismissed; the other three do not wait. Requests take effect in the order in which one
// thread makes them.
#pragma once

#include <string>

namespace host {

class InstallerUi {
 public:
  virtual ~InstallerUi() = default;

  // A modal message box with one OK button, titled with the application title, without an icon.
  virtual void ShowUserMessage(const std::string& text) = 0;
  // Sets the text of the status line.
  virtual void SetStatusText(const std::string& text) = 0;
  // The hourglass cursor for the whole application (true) or the normal one (false).
  virtual void SetBusyCursor(bool busy) = 0;
  // Ends the interface thread's message loop after the message being handled and posts a close
  // request to the window. The caller does nothing more afterwards.
  virtual void EndProgram() = 0;
};

// The process-wide instance. Until one is installed, a silent implementation answers (it shows
// nothing and ends nothing), so library code never needs to test for null.
InstallerUi& Ui();

// Installs `ui` (not owned; it must outlive every later call) and returns the previous one.
// Passing nullptr reinstalls the silent implementation.
InstallerUi* InstallUi(InstallerUi* ui);

}  // namespace host
