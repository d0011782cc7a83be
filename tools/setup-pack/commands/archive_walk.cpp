#include "tools/setup-pack/commands/archive_walk.h"

#include "tools/setup-pack/text/archive_text.h"

namespace setup_pack {

std::string WalkProblem(const ArchiveWalk& walk, size_t archive_size) {
  const std::string where = "entry index " + std::to_string(walk.end_index) + " at byte offset " +
                            std::to_string(walk.end_offset);
  switch (walk.end) {
    case WalkEnd::kClean:
      return std::string();
    case WalkEnd::kCutHeader:
      return "the archive is cut short at " + where + ": only " + std::to_string(walk.end_value) +
             " of the header's 272 bytes are left";
    case WalkEnd::kNegativeSize:
      return "the walk stops early at " + where + ": the header's size is negative (" +
             std::to_string(walk.end_value) + ") and " + std::to_string(archive_size - walk.end_offset) +
             " bytes follow from there";
    case WalkEnd::kDataPastEnd:
      return "the archive is cut short at " + where + " (\"" + NameForMessage(walk.end_name) +
             "\"): its " + std::to_string(walk.end_value) + " data bytes run past the end of the " +
             std::to_string(archive_size) + "-byte archive";
  }
  return std::string();
}

}  // namespace setup_pack
