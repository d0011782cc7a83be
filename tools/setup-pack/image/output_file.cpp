#include "tools/setup-pack/image/output_file.h"

#include <exception>

#include "host/host_error.h"
#include "tools/setup-pack/cli/tool_error.h"

namespace setup_pack {

namespace {

// The folder that will hold `path` (the file layer's spelling), for its temporary file: a rename
// into place never crosses file systems.
std::string FolderOf(const std::string& path) {
  const size_t separator = path.find_last_of("\\/");
  if (separator == std::string::npos) return ".";
  if (separator == 0) return path.substr(0, 1);
  return path.substr(0, separator);
}

}  // namespace

// The temporary name is short and fixed in length, so that an output name as long as the file
// system allows still works.
PendingOutput::PendingOutput(const std::string& native_path) : final_path_(native_path) {
  try {
    file_.emplace(
        host::OutputFile::CreateUnique(FolderOf(host::FromNativePath(native_path)), ".setup-pack-"));
    temporary_path_ = file_->path();
  } catch (const host::HostError& error) {
    throw ToolError("cannot write \"" + final_path_ + "\": " + error.what());
  }
}

PendingOutput::~PendingOutput() {
  if (committed_) return;
  try {
    file_.reset();
  } catch (...) {
    // Closing a file that is about to be deleted: its errors no longer matter.
  }
  host::DeleteFileAt(temporary_path_);
}

namespace {
constexpr size_t kBufferSize = 256 * 1024;
}  // namespace

void PendingOutput::Write(const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (buffer_.size() + size > kBufferSize) Flush();
  if (size >= kBufferSize) {
    file_->Write(bytes, size);
  } else {
    if (buffer_.capacity() < kBufferSize) buffer_.reserve(kBufferSize);
    buffer_.insert(buffer_.end(), bytes, bytes + size);
  }
}

void PendingOutput::Flush() {
  if (buffer_.empty()) return;
  file_->Write(buffer_.data(), buffer_.size());
  buffer_.clear();
}

void PendingOutput::Commit(const std::optional<std::string>& permissions_from) {
  try {
    Flush();
    // On the open file: a name can be swapped for a link between two calls, a handle cannot.
    if (permissions_from) file_->CopyPermissionsFrom(*permissions_from);
    file_->Close();
  } catch (const host::HostError& error) {
    throw ToolError("cannot write \"" + final_path_ + "\": " + error.what());
  }
  file_.reset();
  try {
    host::RenameReplacing(temporary_path_, host::FromNativePath(final_path_));
  } catch (const host::HostError& error) {
    throw ToolError("cannot write \"" + final_path_ + "\": " + error.what());
  }
  committed_ = true;
}

}  // namespace setup_pack
