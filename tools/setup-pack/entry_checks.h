// The checks verify runs on the entries of a walk, in stored order, as the installer's passes
// would meet them. Each problem is one line naming the entry ("entry index 3 (C\lib\x.dcu): ...").
#pragma once

#include <string>
#include <vector>

#include "tools/setup-pack/archive_walk.h"

namespace setup_pack {

// `library_folder`: the manifest's D value (empty for the default), used for the destination
// lengths of the parts C and S.
std::vector<std::string> CheckEntries(const std::vector<WalkedEntry>& entries,
                                      const std::string& library_folder);

}  // namespace setup_pack
