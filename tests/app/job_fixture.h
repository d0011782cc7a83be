// A fixture for running one installation job against a package built in memory, with the
// recording user interface standing in for the window.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "archive/settings_record.h"
#include "tests/support/platform_support.h"
#include "tests/support/recording_ui.h"
#include "tests/support/temp_folder.h"

namespace app_test {

using testing_support::UiCall;

// A key of the tests' own, so a reader that ignored the key would fail them.
constexpr uint32_t kTestKey = 0x2F6B91C3u;
// An environment version no other test program writes into the shared Wine prefix; the two
// Windows builds use different ones so that their runs cannot meet.
constexpr int kIdeVersion = sizeof(void*) == 8 ? 9 : 8;
// 17 May 2003, 13:45:30 and 2 January 1999, 08:00:00, as DOS date-times.
constexpr uint32_t kMay2003 =
    (23u << 25) | (5u << 21) | (17u << 16) | (13u << 11) | (45u << 5) | 15u;
constexpr uint32_t kJanuary1999 = (19u << 25) | (1u << 21) | (2u << 16) | (8u << 11);
constexpr uint32_t kReadOnly = 0x01;
constexpr uint32_t kArchive = 0x20;

constexpr char kUnpackedTo[] = "All files are unpacked to:\r";
constexpr char kUnpackingFailed[] = "Error while unpacking files!";
constexpr char kQuillonWillStart[] = "\r\rQuillon setup will start now";
constexpr char kWaitingForSetup[] = "Waiting for Setup to finish...";
constexpr char kSetupFinished[] = "Setup finished, removing temporary files...";

struct Entry {
  std::string name;
  bool folder = false;
  std::string data;
  uint32_t attributes = kArchive;
  uint32_t modified = kMay2003;
};
Entry FileEntry(std::string name, std::string data, uint32_t attributes = kArchive,
                uint32_t modified = kMay2003);
Entry FolderEntry(std::string name);

// The manifest text: an S line with `ide_spec` and a D line with `folder_name`, by column.
std::string ManifestText(const std::string& ide_spec, const std::string& folder_name);
// Deterministic filler bytes, long enough to span several data chunks.
std::string Filler(size_t size, uint32_t seed);

UiCall Busy(bool busy);
UiCall Message(const std::string& text);
UiCall Status(const std::string& text);
UiCall End();

// Every file and folder below `folder` (installer spelling), as sorted relative paths with
// forward slashes; folders end with a slash.
std::vector<std::string> TreeOf(const std::string& folder);
using testing_support::IsReadOnly;
// Waits, with a generous time-out, for the file to appear (a file another process writes).
bool WaitForFile(const std::string& path);
// Removes the folder and everything in it, read-only files included, waiting with a generous
// time-out while something still holds it (Wine keeps an ended program's first current folder in
// use for a moment after the program has ended).
bool RemoveFolderOnceReleased(const std::string& folder);
// Copies the test's child program to `folder`\Setup.exe.
void PlaceChildSetup(const std::string& folder);
// True when the two paths name the same existing folder.
bool SameFolder(const std::string& a, const std::string& b);

class JobTest : public testing_support::TempFolderTest {
 protected:
  JobTest();
  ~JobTest() override;

  // Builds the package (an "id.txt" with `manifest`, then `entries`), points the reader at it with
  // the installer's key and block stream length, and reads the manifest as OK does.
  void LoadPackage(const std::string& manifest, const std::vector<Entry>& entries);
  void StartJob(archive::JobKind kind);
  // Waits until every job started has made its last call on the test's side: EndProgram on the
  // user interface, or the callback (a job calls exactly one of them as it ends).
  bool WaitForJobThread();
  // Whether that has happened, without waiting.
  bool JobsEnded() const;
  // The calls the job made (those of the manifest reading left out).
  std::vector<UiCall> JobCalls() const;
  std::vector<std::string> JobMessages() const;
  int CallbacksCalled() const;
  // Whether the last callback ran on a thread other than the test's and after every call the job
  // made on the user interface.
  bool CallbackWasLastActOnJobThread() const;

  // The platform's temporary folder during the test (installer spelling, existing).
  std::string platform_temp() const { return temp_.Sub("tmp"); }

  testing_support::RecordingUi ui_;

 private:
  struct CallbackRecord {
    std::mutex mutex;
    int count = 0;
    size_t ui_calls_seen = 0;
    std::thread::id thread;
  };

  std::unique_ptr<testing_support::ScopedTempEnvironment> temp_variable_;
  std::vector<uint8_t> package_;
  size_t calls_before_job_ = 0;
  int jobs_started_ = 0;
  std::shared_ptr<CallbackRecord> callback_ = std::make_shared<CallbackRecord>();
};

}  // namespace app_test
