// The InstallerUi of a console tool: the reader's messages (the text of a failed extraction) go
// to standard error; status texts, the busy cursor and the end request have nothing to show.
#pragma once

#include <string>

#include "host/installer_ui.h"

namespace setup_pack {

class ConsoleUi final : public host::InstallerUi {
 public:
  void ShowUserMessage(const std::string& text) override;
  void SetStatusText(const std::string& text) override;
  void SetBusyCursor(bool busy) override;
  void EndProgram() override;
};

}  // namespace setup_pack
