#include "app/window_ui_win32.h"

#include <memory>
#include <utility>

#include "app/installer_form_controls.h"

namespace app {

struct WindowUi::Request {
  enum class Kind { kMessage, kStatus, kCursor, kEnd };
  Kind kind;
  std::string text;
  bool busy = false;
  // Set once the box was dismissed; only for kMessage. Owned by the waiting caller.
  HANDLE dismissed = nullptr;
};

WindowUi::WindowUi(HWND form, std::string title)
    : form_(form), title_(std::move(title)), interface_thread_(GetCurrentThreadId()) {}

bool WindowUi::OnInterfaceThread() const { return GetCurrentThreadId() == interface_thread_; }

void WindowUi::Post(Request* request) {
  if (!PostMessageA(form_, kUiRequestMessage, 0, reinterpret_cast<LPARAM>(request))) {
    // The window is gone: the program is ending, and the request has no one left to serve it.
    delete request;
  }
}

void WindowUi::ShowUserMessage(const std::string& text) {
  if (OnInterfaceThread()) {
    ShowBox(text);
    return;
  }
  host::win32::UniqueHandle dismissed(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!dismissed.valid()) return;
  Post(new Request{Request::Kind::kMessage, text, false, dismissed.get()});
  // When the window is already gone nothing will set the event: the caller stays here until the
  // process exits, which is what a job cut off by the end of the program must do.
  WaitForSingleObject(dismissed.get(), INFINITE);
}

void WindowUi::SetStatusText(const std::string& text) {
  if (OnInterfaceThread()) {
    ApplyStatusText(text);
  } else {
    Post(new Request{Request::Kind::kStatus, text, false, nullptr});
  }
}

void WindowUi::SetBusyCursor(bool busy) {
  if (OnInterfaceThread()) {
    ApplyBusyCursor(busy);
  } else {
    Post(new Request{Request::Kind::kCursor, {}, busy, nullptr});
  }
}

void WindowUi::EndProgram() {
  if (OnInterfaceThread()) {
    ApplyEndProgram();
  } else {
    Post(new Request{Request::Kind::kEnd, {}, false, nullptr});
  }
}

void WindowUi::HandleRequest(LPARAM lparam) {
  std::unique_ptr<Request> request(reinterpret_cast<Request*>(lparam));
  switch (request->kind) {
    case Request::Kind::kMessage:
      ShowBox(request->text);
      SetEvent(request->dismissed);
      break;
    case Request::Kind::kStatus:
      ApplyStatusText(request->text);
      break;
    case Request::Kind::kCursor:
      ApplyBusyCursor(request->busy);
      break;
    case Request::Kind::kEnd:
      ApplyEndProgram();
      break;
  }
}

void WindowUi::ShowBox(const std::string& text) {
  // Owned by the form, the box disables it while it is up, so the window takes no input.
  ++boxes_shown_;
  MessageBoxA(form_, text.c_str(), title_.c_str(), MB_OK);
  --boxes_shown_;
}

void WindowUi::ApplyStatusText(const std::string& text) {
  HWND panel = GetDlgItem(form_, kStatusPanelId);
  if (!panel) return;
  SetWindowTextA(panel, text.c_str());
  // An owner-drawn static does not repaint itself on a new text.
  InvalidateRect(panel, nullptr, TRUE);
}

void WindowUi::ApplyBusyCursor(bool busy) {
  busy_.store(busy, std::memory_order_relaxed);
  // WM_SETCURSOR comes only with the next mouse move; show the new shape at once when the pointer
  // is over one of this program's windows.
  POINT point{};
  if (!GetCursorPos(&point)) return;
  HWND under = WindowFromPoint(point);
  DWORD process = 0;
  if (under) GetWindowThreadProcessId(under, &process);
  if (process == GetCurrentProcessId()) {
    SetCursor(LoadCursorA(nullptr, busy ? IDC_WAIT : IDC_ARROW));
  }
}

void WindowUi::ApplyEndProgram() {
  end_requested_ = true;
  PostMessageA(form_, WM_CLOSE, 0, 0);
}

}  // namespace app
