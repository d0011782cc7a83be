// What the end-to-end tests need to drive a packed installer from outside, the way a user would:
// start it, find its window and message boxes, read and press their controls, and take a picture.
// Windows only (runs under Wine in the project's builds).
#pragma once

#include <chrono>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/win32.h"

namespace e2e {

// Paths handed to the driver on its command line, in Windows spelling.
struct DriverPaths {
  std::string setup_template;  // the built Setup.exe, without a package
  std::string pack_tool;       // setup-pack.exe
  std::string fake_setup;      // the child "Setup.exe" that packages carry
  std::string artifacts;       // a folder for pictures the tests keep
};
DriverPaths& Paths();

// "/a/b" (a POSIX path handed over by the build) -> "Z:\a\b" (Wine maps Z: to /); other paths
// unchanged.
std::string WindowsPath(const std::string& path);

// Reads the options "--name=path" of a suite's command line into the strings given, as
// WindowsPath spells them. False, after saying which on stderr, when one of them is missing.
using PathOption = std::pair<const char*, std::string*>;
bool ReadPathOptions(int argc, char** argv, const char* suite,
                     std::initializer_list<PathOption> options);

// The exit status of a suite that cannot run here.
constexpr int kCannotRunExitCode = 2;
// True when DISPLAY names the X display that Wine draws windows on; otherwise says that `suite`
// cannot run and why.
bool HasDisplay(const char* suite);

// How long a wait for something the installer does may take before the test fails. Generous:
// under Wine on a busy machine a window can take seconds to appear.
constexpr std::chrono::milliseconds kPatience{60'000};

// Calls `condition` until it holds or `patience` runs out; between tries waits 20 ms on
// `wake` (when given), so that a process ending ends the wait early. True when it held.
bool WaitFor(const std::function<bool()>& condition, HANDLE wake = nullptr,
             std::chrono::milliseconds patience = kPatience);

// Runs a console program to its end with its output collected. Returns its exit code (or -1 when
// it could not start) and fills `output`.
int RunProgram(const std::string& command_line, std::string& output);
std::string Quote(const std::string& argument);

// Named events for the child setup: it sets "started" once it has written its report, and, when
// a gate is given, waits for the gate before it ends.
class ChildSignals {
 public:
  // The report is written into `folder`.
  ChildSignals(const std::string& folder, bool gated);
  // Environment variables that tell the child where to report and which events to use.
  std::map<std::string, std::string> Environment() const;
  bool WaitStarted(std::chrono::milliseconds patience = kPatience) const;
  void OpenGate() const;
  // The child's report: its current folder, then its program path, one per line.
  std::string Report() const;

 private:
  std::string report_path_;
  std::string started_name_;
  std::string gate_name_;
  host::win32::UniqueHandle started_;
  host::win32::UniqueHandle gate_;
};

struct SeenMessageBox {
  HWND handle = nullptr;
  std::string title;
  std::string text;
};

// One started installer process and its window.
class InstallerRun {
 public:
  // Starts `program` with `environment` added to (or replacing in) the driver's own.
  InstallerRun(const std::string& program, const std::map<std::string, std::string>& environment);
  ~InstallerRun();  // ends the process if it still runs
  InstallerRun(const InstallerRun&) = delete;
  InstallerRun& operator=(const InstallerRun&) = delete;

  bool started() const { return process_.valid(); }
  HANDLE process() const { return process_.get(); }
  DWORD thread_id() const { return thread_id_; }

  // Waits until the program's message loop is idle and its form is visible; the form, or null.
  HWND WaitForForm();
  HWND form() const { return form_; }
  HWND Control(int id) const;
  // A message box of the process (a dialog other than the form), waited for.
  std::optional<SeenMessageBox> WaitForMessageBox();
  // The message boxes up now.
  std::vector<SeenMessageBox> MessageBoxesNow() const;
  // Presses a button and returns once its click was handled.
  bool Click(HWND button) const;
  // Posts a key press to the control that has the focus, as typing it would.
  void PressKey(WORD virtual_key) const;
  // The window that has the keyboard focus in the installer's interface thread.
  HWND FocusedWindow() const;
  // Waits for the process to end; its exit code, or none when it did not end in time.
  std::optional<DWORD> WaitForExit(std::chrono::milliseconds patience = kPatience) const;
  bool Running() const;

 private:
  host::win32::UniqueHandle process_;
  host::win32::UniqueHandle thread_;
  DWORD process_id_ = 0;
  DWORD thread_id_ = 0;
  HWND form_ = nullptr;
};

// The text of a control, read through WM_GETTEXT.
std::string ControlText(HWND control);
// The class name of a window.
std::string WindowClass(HWND window);

// A 24-bit picture of what the screen shows of `window`'s client area. (Without a window manager
// on the X display nobody draws the title bar, so the frame is left out.)
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bgr;  // rows top to bottom, 3 bytes a pixel, no padding
  COLORREF At(int x, int y) const;
  size_t DistinctColours() const;
};
Picture CaptureClientArea(HWND window);
// Writes the picture as a .bmp file; false when it cannot be written.
bool WriteBitmapFile(const Picture& picture, const std::string& path);

// Sets the screen resolution that programs started from now on read (the current user's
// LogPixels), and puts the earlier setting back when it goes out of scope.
class ScreenDpi {
 public:
  explicit ScreenDpi(DWORD dpi);
  ~ScreenDpi();
  ScreenDpi(const ScreenDpi&) = delete;
  ScreenDpi& operator=(const ScreenDpi&) = delete;
  void Restore();

 private:
  std::optional<DWORD> previous_;
  bool restored_ = false;
};

}  // namespace e2e
