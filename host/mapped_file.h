// A whole file seen as read-only memory, for reading a package once: the platform maps the file
// (POSIX mmap, Windows a file mapping), so its bytes are read from the page cache as they are
// touched, without a copy.
//
// While the view exists, Windows refuses to cut the file short (a mapped file cannot be
// truncated). POSIX cannot refuse it: a byte past a new end then raises SIGBUS when touched;
// OnCutShort below turns that into an orderly exit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace host {

class MappedFile {
 public:
  // Maps the file read-only, unless it holds more than `max_size` bytes: then nothing is mapped
  // (not a byte is read) and file_size() tells what it holds. An empty file gives an empty view.
  // Throws HostError when the file cannot be opened or mapped.
  static MappedFile Open(const std::string& path, uint64_t max_size);
  MappedFile() = default;  // an empty view
  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&& other) noexcept;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile();

  // The view: the whole file, or nothing when it was too large.
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  uint64_t file_size() const { return file_size_; }

  // Where the platform can cut a mapped file short under its reader: from now on, touching a
  // byte of any view past the file's new end writes `message` (kept as given) to standard error
  // and ends the process with `exit_status`, instead of a crash. Call once, early.
  static void OnCutShort(const char* message, int exit_status);

 private:
  MappedFile(const uint8_t* data, size_t size, uint64_t file_size);
  void Release();

  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  uint64_t file_size_ = 0;
};

}  // namespace host
