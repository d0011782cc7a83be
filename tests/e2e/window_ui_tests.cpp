// The installer window's InstallerUi, in process: requests from a job thread reach the window in
// the order they were made, ShowUserMessage waits for the box to be dismissed and the other
// operations do not wait at all.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "app/application_title.h"
#include "app/installer_form_controls.h"
#include "app/installer_form_win32.h"
#include "archive/archive_writer.h"
#include "host/installer_ui.h"
#include "tests/e2e/driver_support.h"

namespace {

using e2e::ControlText;
using e2e::kPatience;

class WindowUiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    package_ = std::make_unique<archive::PackageBlock>();
    settings_ = std::make_unique<archive::SettingsRecord>();
    archive::WriteLittleEndian32(settings_->key, archive::kDefaultArchiveKey);
    form_ = std::make_unique<app::TInstallerForm>(*package_, *settings_);
    ASSERT_TRUE(form_->Create(GetModuleHandleA(nullptr)));
  }

  void TearDown() override {
    form_.reset();
    // The closed form leaves its quit message (and any request it did not handle) behind; the
    // next test's loop must not see them.
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
  }

  std::string Status() const {
    return ControlText(GetDlgItem(form_->handle(), app::kStatusPanelId));
  }

  // The visible dialogs of this process other than the form: its message boxes.
  std::vector<HWND> MessageBoxes() const {
    Search search{form_->handle(), {}};
    EnumWindows(&CollectBox, reinterpret_cast<LPARAM>(&search));
    return search.boxes;
  }

  struct Search {
    HWND form;
    std::vector<HWND> boxes;
  };

  static BOOL CALLBACK CollectBox(HWND window, LPARAM context) {
    auto* found = reinterpret_cast<Search*>(context);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() && window != found->form && IsWindowVisible(window) &&
        e2e::WindowClass(window) == "#32770") {
      found->boxes.push_back(window);
    }
    return TRUE;
  }

  std::unique_ptr<archive::PackageBlock> package_;
  std::unique_ptr<archive::SettingsRecord> settings_;
  std::unique_ptr<app::TInstallerForm> form_;
};

TEST_F(WindowUiTest, JobThreadRequestsKeepTheirOrderAndTheBoxWaitsForDismissal) {
  std::atomic<bool> message_returned{false};
  std::thread job([&] {
    host::Ui().SetStatusText("extracting");
    host::Ui().ShowUserMessage("All done");
    message_returned = true;
    host::Ui().SetStatusText("after the box");
    host::Ui().EndProgram();
  });

  struct Seen {
    bool box = false;
    std::string status;
    bool returned = true;
    std::string title;
  } seen;
  std::thread watcher([&] {
    HWND box = nullptr;
    seen.box = e2e::WaitFor([&] {
      const std::vector<HWND> boxes = MessageBoxes();
      box = boxes.empty() ? nullptr : boxes.front();
      return box != nullptr;
    });
    if (!seen.box) {
      PostMessageA(form_->handle(), WM_CLOSE, 0, 0);
      return;
    }
    seen.status = Status();
    seen.returned = message_returned;
    char title[128] = {};
    GetWindowTextA(box, title, sizeof(title));
    seen.title = title;
    DWORD_PTR result = 0;
    SendMessageTimeoutA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0, SMTO_NORMAL,
                        static_cast<UINT>(kPatience.count()), &result);
  });

  form_->RunMessageLoop();
  watcher.join();
  job.join();

  ASSERT_TRUE(seen.box);
  // The status text posted before the box was shown before it.
  EXPECT_EQ(seen.status, "extracting");
  EXPECT_FALSE(seen.returned);
  char program[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, program, MAX_PATH);
  EXPECT_EQ(seen.title, app::ApplicationTitle(program));
  EXPECT_TRUE(message_returned);
  // EndProgram ended the loop after the requests made before it.
  EXPECT_EQ(Status(), "after the box");
}

TEST_F(WindowUiTest, OperationsOtherThanTheBoxDoNotWaitForTheInterfaceThread) {
  // On the interface thread a call takes effect at once.
  host::Ui().SetStatusText("at once");
  EXPECT_EQ(Status(), "at once");

  host::win32::UniqueHandle done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  std::thread job([&] {
    host::Ui().SetStatusText("from the job");
    host::Ui().SetBusyCursor(true);
    host::Ui().SetBusyCursor(false);
    host::Ui().EndProgram();
    SetEvent(done.get());
  });
  // The interface thread handles no message meanwhile: had any call waited for it, the job would
  // still be stuck.
  const DWORD waited = WaitForSingleObject(done.get(), static_cast<DWORD>(kPatience.count()));
  job.join();
  ASSERT_EQ(waited, WAIT_OBJECT_0);
  EXPECT_EQ(Status(), "at once");

  form_->RunMessageLoop();
  EXPECT_EQ(Status(), "from the job");
  EXPECT_TRUE(IsWindow(form_->handle()));
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!e2e::HasDisplay("window_ui_tests")) return e2e::kCannotRunExitCode;
  return RUN_ALL_TESTS();
}
