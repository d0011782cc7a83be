#include "tests/support/recording_ui.h"

#include <ostream>

namespace testing_support {

std::ostream& operator<<(std::ostream& out, const UiCall& call) {
  static const char* const kNames[] = {"message", "status", "busy", "end"};
  return out << kNames[static_cast<int>(call.kind)] << "(" << call.text << ")";
}

RecordingUi::RecordingUi() : previous_(host::InstallUi(this)) {}

RecordingUi::~RecordingUi() { host::InstallUi(previous_); }

void RecordingUi::Record(UiCall call) {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.push_back(std::move(call));
  changed_.notify_all();
}

void RecordingUi::ShowUserMessage(const std::string& text) {
  Record({UiCall::Kind::kMessage, text});
  std::unique_lock<std::mutex> lock(mutex_);
  const size_t my_number = ++messages_shown_;
  changed_.wait(lock, [&] { return !hold_messages_ || dismissals_ >= my_number; });
}

void RecordingUi::SetStatusText(const std::string& text) { Record({UiCall::Kind::kStatus, text}); }

void RecordingUi::SetBusyCursor(bool busy) {
  Record({UiCall::Kind::kBusyCursor, busy ? "1" : "0"});
}

void RecordingUi::EndProgram() { Record({UiCall::Kind::kEndProgram, ""}); }

std::vector<UiCall> RecordingUi::Calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

std::vector<std::string> RecordingUi::Messages() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> messages;
  for (const UiCall& call : calls_) {
    if (call.kind == UiCall::Kind::kMessage) messages.push_back(call.text);
  }
  return messages;
}

bool RecordingUi::EndProgramCalled() const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const UiCall& call : calls_) {
    if (call.kind == UiCall::Kind::kEndProgram) return true;
  }
  return false;
}

bool RecordingUi::WaitForCalls(UiCall::Kind kind, size_t count,
                               std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] {
    size_t seen = 0;
    for (const UiCall& call : calls_) seen += call.kind == kind ? 1 : 0;
    return seen >= count;
  });
}

void RecordingUi::HoldMessages(bool hold) {
  std::lock_guard<std::mutex> lock(mutex_);
  hold_messages_ = hold;
  changed_.notify_all();
}

void RecordingUi::DismissMessage() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++dismissals_;
  changed_.notify_all();
}

}  // namespace testing_support
