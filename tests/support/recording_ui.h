// An InstallerUi that records every call in order, thread-safely, and lets a test wait for a call.
// ShowUserMessage returns at once unless the test asked to hold message boxes (then it blocks until
// DismissMessage()), so a test can check what a job does while its box is up.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "host/installer_ui.h"

namespace testing_support {

struct UiCall {
  enum class Kind { kMessage, kStatus, kBusyCursor, kEndProgram };
  Kind kind;
  std::string text;   // message or status text; "1"/"0" for the busy cursor
  bool operator==(const UiCall& other) const { return kind == other.kind && text == other.text; }
};

std::ostream& operator<<(std::ostream& out, const UiCall& call);

class RecordingUi final : public host::InstallerUi {
 public:
  // Installs itself as the process-wide instance; the destructor restores the previous one.
  RecordingUi();
  ~RecordingUi() override;

  void ShowUserMessage(const std::string& text) override;
  void SetStatusText(const std::string& text) override;
  void SetBusyCursor(bool busy) override;
  void EndProgram() override;

  std::vector<UiCall> Calls() const;
  std::vector<std::string> Messages() const;
  bool EndProgramCalled() const;

  // Blocks until a call satisfying `count` calls of `kind` were recorded, or the time-out passes
  // (a generous one: it only stops a broken test from hanging). Returns whether it happened.
  bool WaitForCalls(UiCall::Kind kind, size_t count,
                    std::chrono::milliseconds timeout = std::chrono::seconds(60)) const;

  // Message boxes block their caller until the test dismisses them.
  void HoldMessages(bool hold);
  void DismissMessage();

 private:
  void Record(UiCall call);

  host::InstallerUi* previous_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<UiCall> calls_;
  bool hold_messages_ = false;
  size_t dismissals_ = 0;
  size_t messages_shown_ = 0;
};

}  // namespace testing_support
