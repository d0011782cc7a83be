#include "archive/Stacker.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <limits>
#include <optional>

#include "archive/names.h"
#include "archive/transform.h"
#include "host/files.h"
#include "host/helpers.h"
#include "host/host_error.h"
#include "host/installer_ui.h"

namespace archive {
namespace {

// The reader's module state: one reader per process, one walk at a time, no locks (the window and
// the job never use it at the same time). Positions are kept in 64 bits so that advancing by a
// count or jumping over an entry's data cannot overflow, whatever a damaged header says.
struct ReaderState {
  const uint8_t* memory_base = nullptr;
  int64_t memory_size = 0;
  int64_t memory_position = 0;
  std::optional<host::InputFile> archive_file;
  // The file source's read position. A seek only records it; the file itself is moved when a read
  // needs it somewhere else. A walk seeks past every entry's data and back again for each entry
  // it extracts, and reads straight on from where the data ends: done lazily, the seeks of a
  // walk cost no system call at all.
  int64_t file_position = 0;
  std::string walk_prefix;
  int64_t data_start = 0;
  KeystreamState keystream{};
  uint32_t archive_key = 0;
  int32_t block_stream_length = 0;
  // The only buffers data passes through: one for extraction, one for the text read. Aligned to
  // a cache line: on some processors (AMD Zen 3 here) a copy of a few KiB runs about five times
  // slower when its target lies 1 to 31 bytes past its source modulo 4096, and file data (read
  // from or written to the page cache) starts on page boundaries.
  alignas(64) uint8_t chunk_buffer[kChunkSize];
  alignas(64) uint8_t text_buffer[kMaxTextSize];
};

// Never destroyed: Cancel ends the process without waiting for a job thread that may still be
// inside the reader, so no exit-time destructor may free the state under it. Made before the
// program's first statement runs, so that no guard for a later first use is needed.
ReaderState* const g_reader_state = new ReaderState();

ReaderState& State() { return *g_reader_state; }

int64_t AddClamped(int64_t a, int64_t b) {
  if (b > 0 && a > std::numeric_limits<int64_t>::max() - b) {
    return std::numeric_limits<int64_t>::max();
  }
  if (b < 0 && a < std::numeric_limits<int64_t>::min() - b) {
    return std::numeric_limits<int64_t>::min();
  }
  return a + b;
}

host::InputFile& OpenFileSource() {
  ReaderState& state = State();
  if (!state.archive_file) {
    throw host::HostError("No archive is open.");
  }
  return *state.archive_file;
}

int64_t CurrentPosition() {
  ReaderState& state = State();
  if (state.memory_base != nullptr) {
    return state.memory_position;
  }
  OpenFileSource();
  return state.file_position;
}

bool MatchesWalkPrefix(const EntryHeader& header) {
  return NameMatchesWalkPrefix(reinterpret_cast<const char*>(header.name + 1), header.name[0],
                               State().walk_prefix);
}

// Reads one header. False when it cannot be read whole or its size is negative.
bool ReadHeader(EntryHeader& header) {
  uint8_t bytes[kEntryHeaderSize];
  const int32_t delivered = ReadArchive(bytes, static_cast<int32_t>(kEntryHeaderSize));
  header = DecodeHeader(bytes);
  State().keystream = StateFromSeeds(header.seeds);
  return delivered == static_cast<int32_t>(kEntryHeaderSize) && header.size >= 0;
}

std::string RelativePath(const EntryHeader& header) {
  return NameBelowWalkPrefix(EntryName(header), State().walk_prefix);
}

host::OutputFile CreateReplacingFile(const std::string& path) {
  try {
    return host::OutputFile::CreateReplacing(path);
  } catch (const host::HostError&) {
    // Typically a read-only file left by an earlier installation: make it normal and try again.
    // A folder of that name is left as it is (the second attempt then reports the failure).
    if (!host::FolderExists(path)) host::SetAttributes(path, 0);
    return host::OutputFile::CreateReplacing(path);
  }
}

// The end of writing a file entry: its date and attributes, through the open file.
void FinishEntryFile(host::OutputFile& file, const EntryHeader& header) {
  file.SetLastWriteTime(header.modified);
  file.ApplyAttributes(header.attributes);
  file.Close();
}

// Writes a file entry's decoded data whole into the open file, then finishes it.
void WriteWholeEntryFile(host::OutputFile& file, const EntryHeader& header,
                         const std::vector<uint8_t>& data) {
  if (!data.empty()) file.Write(data.data(), data.size());
  FinishEntryFile(file, header);
}

bool ExtractFileEntry(EntryHeader& header, const std::string& destination) {
  const int64_t data_start = State().data_start;
  SeekArchive(data_start);
  const int32_t written = ExtractEntryData(header, destination);
  SeekArchive(data_start + header.size);
  return written == header.size;
}

}  // namespace

void SetArchiveMemory(const uint8_t* base, int32_t size) {
  ReaderState& state = State();
  state.memory_base = base;
  state.memory_size = std::max<int32_t>(size, 0);
}

void SetArchiveKey(uint32_t key) { State().archive_key = key; }

void SetBlockStreamLength(int32_t block_stream_length) {
  State().block_stream_length = block_stream_length;
}

void SeekArchive(int64_t position) {
  ReaderState& state = State();
  if (state.memory_base != nullptr) {
    state.memory_position = position;
    return;
  }
  host::InputFile& file = OpenFileSource();
  if (position < 0) {
    // Let the platform refuse it now, with its own text.
    file.Seek(position);
  }
  state.file_position = position;
}

int32_t ReadArchive(void* buffer, int32_t count) {
  ReaderState& state = State();
  if (count <= 0) {
    return 0;
  }
  if (state.memory_base == nullptr) {
    host::InputFile& file = OpenFileSource();
    if (file.Position() != state.file_position) {
      file.Seek(state.file_position);
    }
    const size_t delivered = file.Read(buffer, static_cast<size_t>(count));
    state.file_position += static_cast<int64_t>(delivered);
    return static_cast<int32_t>(delivered);
  }
  int32_t copied = 0;
  if (state.memory_position >= 0 && state.memory_position < state.memory_size) {
    copied =
        static_cast<int32_t>(std::min<int64_t>(count, state.memory_size - state.memory_position));
    std::memcpy(buffer, state.memory_base + state.memory_position, static_cast<size_t>(copied));
  }
  state.memory_position = AddClamped(state.memory_position, count);
  return copied;
}

bool OpenArchive(const std::string& file_name, const std::string& prefix, EntryHeader& header) {
  ReaderState& state = State();
  try {
    state.walk_prefix = WalkPrefixOf(prefix);
    if (!file_name.empty()) {
      state.memory_base = nullptr;
      state.archive_file.reset();
      state.archive_file = host::InputFile::OpenReadOnly(file_name);
      state.file_position = 0;
    } else {
      // Only the memory position starts again. Without a memory source a file left open by an
      // earlier walk reads on from where that walk left it; with no file either, every read
      // fails and nothing is found.
      state.memory_position = 0;
    }
    return FindNextEntry(header);
  } catch (...) {
    return false;
  }
}

bool FindNextEntry(EntryHeader& header) {
  ReaderState& state = State();
  try {
    for (;;) {
      if (!ReadHeader(header)) {
        return false;
      }
      state.data_start = CurrentPosition();
      // A next-header position beyond the source is allowed here; the next read ends the walk.
      SeekArchive(AddClamped(state.data_start, header.size));
      if (MatchesWalkPrefix(header)) {
        return true;
      }
    }
  } catch (...) {
    return false;
  }
}

std::string EntryDestination(const EntryHeader& header, const std::string& target_folder) {
  std::string destination = host::AddBackslash(target_folder) + RelativePath(header);
  if (destination.size() > kMaxDestinationPath) {
    throw host::HostError("Cannot extract \"" + EntryName(header) + "\": the path \"" +
                          destination + "\" is longer than 255 characters.");
  }
  return destination;
}

std::string ExtractFailureText(const EntryHeader& header) {
  return "Cannot extract \"" + EntryName(header) + "\".";
}

bool ExtractEntry(EntryHeader& header, const std::string& target_folder) {
  try {
    const std::string destination = EntryDestination(header, target_folder);
    if (IsFolderEntry(header)) {
      host::CreateFolderWithParents(destination);
      return true;
    }
    return ExtractFileEntry(header, destination);
  } catch (const std::exception& error) {
    host::Ui().ShowUserMessage(error.what());
    return false;
  } catch (...) {
    host::Ui().ShowUserMessage(ExtractFailureText(header));
    return false;
  }
}

namespace {

// Reads the entry's data from the read position, kChunkSize bytes at a time (the transform's
// block positions start again with each chunk), each chunk decoded in place at `chunk_at(offset)`
// and its delivered bytes handed to `take`. Returns the count of bytes delivered.
template <typename ChunkAt, typename Take>
int32_t DecodeEntryData(const EntryHeader& header, KeystreamState& keystream, ChunkAt chunk_at,
                        Take take) {
  const ReaderState& state = State();
  int64_t remaining = std::max<int32_t>(header.size, 0);
  int32_t delivered_total = 0;
  while (remaining > 0) {
    const int32_t requested = static_cast<int32_t>(std::min<int64_t>(remaining, kChunkSize));
    uint8_t* chunk = chunk_at(static_cast<size_t>(delivered_total));
    const int32_t delivered = ReadArchive(chunk, requested);
    TransformData(chunk, static_cast<size_t>(requested), keystream, state.archive_key,
                  state.block_stream_length);
    take(chunk, static_cast<size_t>(delivered));
    delivered_total += delivered;
    remaining -= requested;
    // A short read means the source has ended; later reads would deliver nothing more.
    if (delivered < requested) {
      break;
    }
  }
  return delivered_total;
}

}  // namespace

int32_t ExtractEntryData(EntryHeader& header, const std::string& path) {
  ReaderState& state = State();
  host::OutputFile file = CreateReplacingFile(path);
  const int32_t delivered = DecodeEntryData(
      header, state.keystream, [&](size_t) { return state.chunk_buffer; },
      [&](const uint8_t* chunk, size_t count) { file.Write(chunk, count); });
  FinishEntryFile(file, header);
  return delivered;
}

std::vector<uint8_t> ReadEntryData(const EntryHeader& header) {
  ReaderState& state = State();
  const int64_t resume_at = CurrentPosition();
  KeystreamState keystream = state.keystream;
  std::vector<uint8_t> data(static_cast<size_t>(std::max<int32_t>(header.size, 0)));
  SeekArchive(state.data_start);
  const int32_t delivered = DecodeEntryData(
      header, keystream, [&](size_t offset) { return data.data() + offset; },
      [](const uint8_t*, size_t) {});
  data.resize(static_cast<size_t>(delivered));
  SeekArchive(resume_at);
  return data;
}

void WriteEntryFile(const EntryHeader& header, const std::string& path,
                    const std::vector<uint8_t>& data) {
  host::OutputFile file = CreateReplacingFile(path);
  WriteWholeEntryFile(file, header, data);
}

bool WriteNewEntryFile(const EntryHeader& header, const std::string& path,
                       const std::vector<uint8_t>& data) {
  std::optional<host::OutputFile> file = host::OutputFile::CreateNew(path);
  if (!file) return false;
  WriteWholeEntryFile(*file, header, data);
  return true;
}

std::string ReadEntryText(EntryHeader& header) {
  ReaderState& state = State();
  SeekArchive(state.data_start);
  const int32_t requested = std::min<int32_t>(std::max<int32_t>(header.size, 0), kMaxTextSize);
  const int32_t delivered = ReadArchive(state.text_buffer, requested);
  TransformData(state.text_buffer, static_cast<size_t>(requested), state.keystream,
                state.archive_key, state.block_stream_length);
  SeekArchive(0);
  return std::string(reinterpret_cast<const char*>(state.text_buffer),
                     static_cast<size_t>(delivered));
}

void CloseArchive() {
  ReaderState& state = State();
  // While the memory source is in use an archive file opened earlier stays open.
  if (state.memory_base == nullptr) state.archive_file.reset();
}

}  // namespace archive
