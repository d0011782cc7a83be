// The window's InstallerUi. Every operation is carried out on the interface thread: a call made
// there runs at once; a call from another thread is posted to the form as one request message, so
// that all requests of one thread, waiting or not, keep the order in which they were made (a sent
// message would overtake messages posted before it).
#pragma once

#include <atomic>
#include <string>

#include "host/installer_ui.h"
#include "host/win32.h"

namespace app {

class WindowUi final : public host::InstallerUi {
 public:
  // `form` owns the message boxes and receives the requests; the calling thread is the interface
  // thread. `title` is the application title of the message boxes.
  WindowUi(HWND form, std::string title);

  void ShowUserMessage(const std::string& text) override;
  void SetStatusText(const std::string& text) override;
  void SetBusyCursor(bool busy) override;
  void EndProgram() override;

  // Carries out a request that another thread posted (lparam of the request message).
  void HandleRequest(LPARAM request);

  // Whether EndProgram asked the message loop to stop.
  bool end_requested() const { return end_requested_; }
  bool busy() const { return busy_.load(std::memory_order_relaxed); }
  // Whether a message box of this UI is up on the interface thread.
  bool box_shown() const { return boxes_shown_ > 0; }

 private:
  struct Request;

  bool OnInterfaceThread() const;
  void Post(Request* request);
  void ShowBox(const std::string& text);
  void ApplyStatusText(const std::string& text);
  void ApplyBusyCursor(bool busy);
  void ApplyEndProgram();

  HWND form_;
  std::string title_;
  DWORD interface_thread_;
  std::atomic<bool> busy_{false};
  bool end_requested_ = false;
  int boxes_shown_ = 0;
};

}  // namespace app
