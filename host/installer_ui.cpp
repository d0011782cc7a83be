#include "host/installer_ui.h"

#include <atomic>

namespace host {
namespace {

class SilentUi final : public InstallerUi {
 public:
  void ShowUserMessage(const std::string&) override {}
  void SetStatusText(const std::string&) override {}
  void SetBusyCursor(bool) override {}
  void EndProgram() override {}
};

SilentUi silent_ui;
// Installed once at start-up (or by a test before it starts threads); read from job threads.
std::atomic<InstallerUi*> current_ui{&silent_ui};

}  // namespace

InstallerUi& Ui() { return *current_ui.load(std::memory_order_acquire); }

InstallerUi* InstallUi(InstallerUi* ui) {
  InstallerUi* previous = current_ui.exchange(ui ? ui : &silent_ui, std::memory_order_acq_rel);
  return previous == &silent_ui ? nullptr : previous;
}

}  // namespace host
