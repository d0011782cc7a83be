// Times one run of an installer the way a user runs it, for bench/installer_bench.py: starts it
// with TEMP and TMP set to the folder given, waits until its window is ready and past its first
// timer tick, presses OK, and waits for the result box. Prints the milliseconds from the press to
// the box and, on the next line, the box's text; then dismisses the box and waits for the
// installer to end.
//
// usage: installer_bench_driver INSTALLER TEMP_FOLDER EXPECTED_BOX_TEXT_START
// Exit status 0 when the box came and began with the text given; 1 otherwise.
#include "host/win32.h"

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>

#include "app/installer_form_controls.h"
#include "tests/e2e/driver_support.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: installer_bench_driver INSTALLER TEMP_FOLDER BOX_TEXT_START\n");
    return 1;
  }
  const std::string installer = argv[1];
  const std::string temp = argv[2];
  const std::string expected = argv[3];
  e2e::InstallerRun run(installer, {{"TEMP", temp}, {"TMP", temp}});
  if (!run.started() || run.WaitForForm() == nullptr) {
    std::fprintf(stderr, "the installer's window did not come\n");
    return 1;
  }
  // Past the first timer tick (500 ms after the window was made): a press is carried out at once.
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  const auto pressed = std::chrono::steady_clock::now();
  if (!run.Click(run.Control(app::kOkButtonId))) {
    std::fprintf(stderr, "OK could not be pressed\n");
    return 1;
  }
  const std::optional<e2e::SeenMessageBox> box = run.WaitForMessageBox();
  const auto shown = std::chrono::steady_clock::now();
  if (!box || box->text.compare(0, expected.size(), expected) != 0) {
    std::fprintf(stderr, "no result box: %s\n", box ? box->text.c_str() : "(none)");
    return 1;
  }
  std::printf("%.1f\n%s\n", std::chrono::duration<double, std::milli>(shown - pressed).count(),
              box->text.c_str());
  run.Click(GetDlgItem(box->handle, IDOK));
  return run.WaitForExit() == std::optional<DWORD>(0) ? 0 : 1;
}
