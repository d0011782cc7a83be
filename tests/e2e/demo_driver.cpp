// Presses OK in a packed installer the way a user would, for the demo script:
//   demo_driver INSTALLER SCREENSHOT.bmp
// Starts the installer, waits until OK is available, takes a picture of the window, presses OK,
// prints the report box's title and text, dismisses it and waits for the installer to end.
// Exit status 0 when the installer reported and ended, 1 otherwise.
#include <cstdio>
#include <string>

#include "app/installer_form_controls.h"
#include "tests/e2e/driver_support.h"

namespace {

int Fail(const char* what) {
  std::fprintf(stderr, "demo_driver: %s\n", what);
  return 1;
}

std::string Printable(std::string text) {
  for (char& c : text) {
    if (c == '\r') c = '\n';
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return Fail("usage: demo_driver INSTALLER SCREENSHOT.bmp");
  e2e::InstallerRun run(argv[1], {});
  if (!run.started()) return Fail("the installer did not start");
  const HWND form = run.WaitForForm();
  if (form == nullptr) return Fail("the installer window did not appear");

  const HWND ok = run.Control(app::kOkButtonId);
  if (!e2e::WaitFor([&] { return IsWindowEnabled(ok) != FALSE; }, run.process())) {
    return Fail("OK did not become available");
  }
  char caption[64] = {};
  GetWindowTextA(form, caption, sizeof caption);
  std::printf("window caption: %s\n", caption);
  // OK is available as soon as the window appears, which may be before it has painted itself:
  // ask for the paint, and take the picture once the banner shows (a window not painted yet is
  // one or two colours).
  RedrawWindow(form, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  e2e::Picture picture;
  if (!e2e::WaitFor([&] {
        picture = e2e::CaptureClientArea(form);
        return picture.DistinctColours() > 100;
      }, run.process())) {
    return Fail("the installer window did not paint itself");
  }
  if (!e2e::WriteBitmapFile(picture, argv[2])) {
    return Fail("the screenshot could not be written");
  }

  if (!run.Click(ok)) return Fail("OK could not be pressed");
  const auto box = run.WaitForMessageBox();
  if (!box) return Fail("no report appeared");
  std::printf("message box \"%s\":\n%s\n", box->title.c_str(), Printable(box->text).c_str());
  run.Click(GetDlgItem(box->handle, IDOK));

  const auto exit_code = run.WaitForExit();
  if (!exit_code) return Fail("the installer did not end");
  std::printf("installer ended with exit code %lu\n", static_cast<unsigned long>(*exit_code));
  return *exit_code == 0 ? 0 : 1;
}
