#include "archive/archive_writer.h"

#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

#include "archive/Stacker.h"
#include "archive/entry_header.h"

namespace archive {

std::array<uint8_t, 4> SeedGenerator::Next() {
  // splitmix64: a fixed, portable mixing of a counter.
  state_ += 0x9E3779B97F4A7C15ull;
  uint64_t z = state_;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return {static_cast<uint8_t>(z), static_cast<uint8_t>(z >> 8), static_cast<uint8_t>(z >> 16),
          static_cast<uint8_t>(z >> 24)};
}

ArchiveWriter::ArchiveWriter(uint32_t key, int32_t block_stream_length, Sink sink)
    : key_(key), block_stream_length_(block_stream_length), sink_(std::move(sink)) {}

void ArchiveWriter::AddFolder(const EntrySpec& spec) {
  if (in_file_) {
    throw std::logic_error("AddFolder inside a streamed file entry");
  }
  EmitHeader(spec, 0, spec.attributes | kFolderAttribute);
}

void ArchiveWriter::AddFile(const EntrySpec& spec, const uint8_t* data, size_t size) {
  if (size > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
    throw std::length_error("Entry data larger than 2 GiB: \"" + spec.name + "\"");
  }
  BeginFile(spec, static_cast<int32_t>(size));
  WriteData(data, size);
  EndFile();
}

void ArchiveWriter::AddFile(const EntrySpec& spec, const std::string& data) {
  AddFile(spec, reinterpret_cast<const uint8_t*>(data.data()), data.size());
}

void ArchiveWriter::BeginFile(const EntrySpec& spec, int32_t size) {
  if (in_file_) {
    throw std::logic_error("BeginFile inside a streamed file entry");
  }
  if (size < 0) {
    throw std::logic_error("Negative entry size for \"" + spec.name + "\"");
  }
  EmitHeader(spec, size, spec.attributes);
  in_file_ = true;
  remaining_ = size;
  state_ = StateFromSeeds(spec.seeds.data());
  chunk_.clear();
  chunk_.reserve(kChunkSize);
}

void ArchiveWriter::WriteData(const uint8_t* data, size_t size) {
  if (!in_file_) {
    throw std::logic_error("WriteData outside a streamed file entry");
  }
  if (size > static_cast<uint64_t>(remaining_)) {
    throw std::logic_error("WriteData beyond the size given to BeginFile");
  }
  remaining_ -= static_cast<int64_t>(size);
  while (size > 0) {
    const size_t room = static_cast<size_t>(kChunkSize) - chunk_.size();
    const size_t take = size < room ? size : room;
    chunk_.insert(chunk_.end(), data, data + take);
    data += take;
    size -= take;
    if (chunk_.size() == static_cast<size_t>(kChunkSize)) {
      FlushChunk();
    }
  }
}

void ArchiveWriter::EndFile() {
  if (!in_file_) {
    throw std::logic_error("EndFile outside a streamed file entry");
  }
  if (remaining_ != 0) {
    throw std::logic_error("Streamed entry data falls short of the size given to BeginFile");
  }
  // The reader's last chunk takes what is left of the size; so does the writer's.
  if (!chunk_.empty()) {
    FlushChunk();
  }
  in_file_ = false;
}

void ArchiveWriter::AddRawHeader(const EntryHeader& header) {
  if (in_file_) {
    throw std::logic_error("AddRawHeader inside a streamed file entry");
  }
  uint8_t bytes[kEntryHeaderSize];
  std::memcpy(bytes, &header, kEntryHeaderSize);
  TransformHeader(bytes);
  Emit(bytes, kEntryHeaderSize);
}

void ArchiveWriter::EmitHeader(const EntrySpec& spec, int32_t size, uint32_t attributes) {
  EntryHeader header{};
  std::memcpy(header.seeds, spec.seeds.data(), sizeof header.seeds);
  SetEntryName(header, spec.name);
  header.size = size;
  header.attributes = attributes;
  header.modified = spec.modified;
  AddRawHeader(header);
}

void ArchiveWriter::Emit(const uint8_t* data, size_t size) {
  sink_(data, size);
  bytes_written_ += static_cast<int64_t>(size);
}

void ArchiveWriter::FlushChunk() {
  TransformData(chunk_.data(), chunk_.size(), state_, key_, block_stream_length_);
  Emit(chunk_.data(), chunk_.size());
  chunk_.clear();
}

MemoryArchive::MemoryArchive(uint32_t key, int32_t block_stream_length)
    : writer_(key, block_stream_length, [this](const uint8_t* data, size_t size) {
        bytes_.insert(bytes_.end(), data, data + size);
      }) {}

}  // namespace archive
