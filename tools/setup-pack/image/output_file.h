// An output that appears whole or not at all: the bytes go to a new temporary file of an
// unpredictable name in the target's folder, and Commit renames it into place (replacing an older
// file). Destroyed without Commit,
// the temporary file is deleted, so a failed run leaves no half-written archive or installer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/files.h"

namespace setup_pack {

class PendingOutput {
 public:
  // Throws ToolError when the temporary file cannot be created.
  explicit PendingOutput(const std::string& native_path);
  PendingOutput(const PendingOutput&) = delete;
  PendingOutput& operator=(const PendingOutput&) = delete;
  ~PendingOutput();

  // Throws host::HostError on a write error. Small pieces are gathered into a buffer first, so
  // that an archive's 272-byte headers and short files do not cost a system call each.
  void Write(const void* data, size_t size);
  // Closes the file and renames it into place; on POSIX the file then has the permission bits of
  // `permissions_from` when given (the template of an installer). Throws ToolError on failure.
  void Commit(const std::optional<std::string>& permissions_from = std::nullopt);

 private:
  std::string final_path_;
  std::string temporary_path_;
  void Flush();

  std::optional<host::OutputFile> file_;
  std::vector<uint8_t> buffer_;
  bool committed_ = false;
};

}  // namespace setup_pack
