#include "host/mapped_file.h"

#include <utility>

namespace host {

MappedFile::MappedFile(const uint8_t* data, size_t size, uint64_t file_size)
    : data_(data), size_(size), file_size_(file_size) {}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      file_size_(std::exchange(other.file_size_, 0)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    file_size_ = std::exchange(other.file_size_, 0);
  }
  return *this;
}

MappedFile::~MappedFile() { Release(); }

}  // namespace host
