// The execution level an installer program asks Windows for, in its manifest: the template asks
// for "requireAdministrator", which the library job needs (it writes below the IDE's folder,
// usually in Program Files). The application job writes only to the user's temporary folder and
// starts the package's own Setup.exe, which asks for elevation itself if it needs it: it must run
// "asInvoker", as the user who started it (elevated, it would unpack into the temporary folder of
// the administrator's account). The tool rewrites the level in place: the field keeps its length,
// a shorter value followed by spaces, which XML allows between attributes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/settings_record.h"

namespace setup_pack {

struct ExecutionLevelField {
  size_t offset = 0;  // of `level="`, in the file
  size_t size = 0;    // up to the closing quote and the spaces after it
  std::string level;  // the value between the quotes
};

// The requestedExecutionLevel's level field in `size` bytes of a program image; `skip_from` to
// `skip_to` (an archive area) is not searched. None when there is none.
std::optional<ExecutionLevelField> FindExecutionLevel(const uint8_t* data, size_t size,
                                                      size_t skip_from, size_t skip_to);

// The level the job needs.
const char* ExecutionLevelFor(archive::JobKind job);

// The field's bytes with `level` in it, padded with spaces to `field_size`. Throws ToolError when
// the level does not fit.
std::vector<uint8_t> ExecutionLevelBytes(const std::string& level, size_t field_size);

}  // namespace setup_pack
