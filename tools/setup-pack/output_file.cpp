#include "tools/setup-pack/output_file.h"

#include <exception>

#include "host/host_error.h"
#include "tools/setup-pack/tool_error.h"

namespace setup_pack {

PendingOutput::PendingOutput(const std::string& native_path)
    : final_path_(native_path),
      temporary_path_(native_path + ".setup-pack-" + std::to_string(CurrentProcessId()) + ".tmp") {
  try {
    file_.emplace(host::OutputFile::CreateReplacing(temporary_path_));
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
    file_->Close();
  } catch (const host::HostError& error) {
    throw ToolError("cannot write \"" + final_path_ + "\": " + error.what());
  }
  file_.reset();
  if (permissions_from) CopyPermissions(*permissions_from, temporary_path_);
  ReplaceFileWith(temporary_path_, final_path_);
  committed_ = true;
}

}  // namespace setup_pack
