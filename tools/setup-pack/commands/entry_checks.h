// The checks verify runs on the entries of a walk, in stored order, as the installer's passes
// would meet them. Each problem is one line naming the entry ("entry index 3 (C\lib\x.dcu): ...").
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tools/setup-pack/commands/archive_walk.h"

namespace setup_pack {

// The order in which an extraction pass writes entries, as Windows sees the names: a file goes into
// a folder that exists already (the folder the pass fills, or one an earlier folder entry made),
// and no file takes the name of an earlier file or folder, nor a folder that of an earlier file,
// names compared without case. Paths are relative to the folder the pass fills, backslash
// separated; a folder entry makes its missing parents too.
class WriteOrder {
 public:
  // `existing`: relative folders that exist before the first entry (the part folders, when the
  // entries of every part are written below one folder).
  explicit WriteOrder(const std::vector<std::string>& existing = {});
  // Why the folder or file entry cannot be written after the entries added so far, or none.
  std::optional<std::string> AddFolder(const std::string& relative);
  std::optional<std::string> AddFile(const std::string& relative);

 private:
  std::set<std::string> folders_;
  std::set<std::string> files_;
};

// `library_folder`: the manifest's D value (empty for the default), used for the destination
// lengths of the parts C and S.
std::vector<std::string> CheckEntries(const std::vector<WalkedEntry>& entries,
                                      const std::string& library_folder);

}  // namespace setup_pack
