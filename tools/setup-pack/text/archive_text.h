// Names and captions between the archive's ANSI text and the platform's spelling (host/ansi_text.h),
// and as messages show them.
#pragma once

#include <optional>
#include <string>

#include "host/ansi_text.h"

namespace setup_pack {

using host::ToArchiveText;
using host::ToNativeText;

// An archive name as it is shown in listings and messages: in platform spelling, control
// characters as cat -v shows them (^I for a tab, ^@ for a NUL, ^? for DEL), so that no name can
// break a listing's lines or cut a message short.
std::string NameForMessage(const std::string& archive_text);

}  // namespace setup_pack
