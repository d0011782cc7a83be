#include "host/mapped_file.h"

#include "host/host_error.h"
#include "host/win32.h"

namespace host {
namespace {

HostError ErrorFor(const std::string& path, DWORD error) {
  return HostError("Cannot read file \"" + path + "\". " + win32::ErrorText(error));
}

}  // namespace

MappedFile MappedFile::Open(const std::string& path, uint64_t max_size) {
  // No write sharing while the mapping is made; once it is, the file cannot be cut short.
  win32::UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) throw ErrorFor(path, GetLastError());
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size)) throw ErrorFor(path, GetLastError());
  const auto file_size = static_cast<uint64_t>(size.QuadPart);
  // A file mapping cannot be empty.
  if (file_size == 0 || file_size > max_size || file_size > SIZE_MAX) {
    return MappedFile(nullptr, 0, file_size);
  }
  win32::UniqueHandle mapping(
      CreateFileMappingA(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping.valid()) throw ErrorFor(path, GetLastError());
  const void* view = MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0);
  if (view == nullptr) throw ErrorFor(path, GetLastError());
  // The view keeps the mapping and the file open.
  return MappedFile(static_cast<const uint8_t*>(view), static_cast<size_t>(file_size), file_size);
}

void MappedFile::Release() {
  if (data_ != nullptr) UnmapViewOfFile(data_);
  data_ = nullptr;
  size_ = 0;
}

// Windows cannot cut a mapped file short.
void MappedFile::OnCutShort(const char* /*message*/, int /*exit_status*/) {}

}  // namespace host
