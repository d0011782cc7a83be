// The scrambling side of the archive format: writes entries in the layout the reader walks. Used by
// the packing tool and by tests to make fixtures. The writer chunks each entry's data exactly as
// the reader does (32,768-byte chunks, the position restarting in every chunk), so an archive
// written with key K and block stream length P reads back under the same K and P.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/entry_header.h"
#include "archive/transform.h"

namespace archive {

// The key the tool and the installer use unless told otherwise.
constexpr uint32_t kDefaultArchiveKey = 0x5EC7A11Eu;
// The block stream length the installer uses from its first timer tick on.
constexpr int32_t kInstallerBlockStreamLength = 50;

struct EntrySpec {
  std::string name;          // backslash-separated, at most 255 characters
  uint32_t attributes = 0;   // 0x10 for a folder
  uint32_t modified = 0;     // DOS date-time, local time
  std::array<uint8_t, 4> seeds{};
};

// Deterministic seeds: the same generator state gives the same sequence on every platform.
class SeedGenerator {
 public:
  explicit SeedGenerator(uint64_t state = 0x243F6A8885A308D3ull) : state_(state) {}
  std::array<uint8_t, 4> Next();

 private:
  uint64_t state_;
};

class ArchiveWriter {
 public:
  // Receives the archive's bytes in order. May throw; the writer does not catch.
  using Sink = std::function<void(const uint8_t* data, size_t size)>;

  ArchiveWriter(uint32_t key, int32_t block_stream_length, Sink sink);

  // A folder entry: size 0, the folder bit added to `attributes`.
  void AddFolder(const EntrySpec& spec);
  // A file entry with its whole data in memory.
  void AddFile(const EntrySpec& spec, const uint8_t* data, size_t size);
  void AddFile(const EntrySpec& spec, const std::string& data);

  // A file entry streamed in pieces: BeginFile with the final size, WriteData any number of times,
  // EndFile. Throws std::logic_error when the pieces do not add up to `size`.
  void BeginFile(const EntrySpec& spec, int32_t size);
  void WriteData(const uint8_t* data, size_t size);
  void EndFile();

  // A raw header exactly as given (size included), scrambled, without data: for tests that need
  // headers the writer would never produce (negative sizes, sizes beyond the source).
  void AddRawHeader(const EntryHeader& header);

  int64_t BytesWritten() const { return bytes_written_; }

 private:
  void EmitHeader(const EntrySpec& spec, int32_t size, uint32_t attributes);
  void Emit(const uint8_t* data, size_t size);
  void FlushChunk();

  uint32_t key_;
  int32_t block_stream_length_;
  Sink sink_;
  int64_t bytes_written_ = 0;
  // State of the file entry being streamed.
  bool in_file_ = false;
  int64_t remaining_ = 0;
  KeystreamState state_{};
  std::vector<uint8_t> chunk_;
};

// Convenience for tests and small tools: the whole archive in memory.
class MemoryArchive {
 public:
  explicit MemoryArchive(uint32_t key = kDefaultArchiveKey,
                         int32_t block_stream_length = kInstallerBlockStreamLength);
  // The writer's sink points back into this object, so it cannot be copied or moved.
  MemoryArchive(const MemoryArchive&) = delete;
  MemoryArchive& operator=(const MemoryArchive&) = delete;
  ArchiveWriter& writer() { return writer_; }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  ArchiveWriter writer_;
};

}  // namespace archive
