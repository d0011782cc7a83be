// The archive reader. One set of module-level state per process and one walk at a time: the window
// uses it before a job starts (the manifest), and the running job is its only user afterwards.
//
// The source is the memory source while a memory base is set (the package block's archive area),
// and an archive file otherwise. A walk is OpenArchive, then ExtractEntry on each entry found
// followed by FindNextEntry, until nothing more is found; a text read is OpenArchive and one
// ReadEntryText. CloseArchive ends either.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/entry_header.h"

namespace archive {

constexpr int32_t kChunkSize = 32'768;
constexpr int32_t kMaxTextSize = 10'000;
// The longest destination path that ExtractEntry writes to.
constexpr size_t kMaxDestinationPath = 255;

void SetArchiveMemory(const uint8_t* base, int32_t size);
void SetArchiveKey(uint32_t key);
void SetBlockStreamLength(int32_t block_stream_length);

// Memory source: sets the position. File source: seeks the file; a failure throws host::HostError.
void SeekArchive(int64_t position);
// Memory source: copies what lies inside the area and advances the position by `count` whatever
// was copied. File source: reads up to `count` bytes; a failure throws. Returns the count copied.
int32_t ReadArchive(void* buffer, int32_t count);

// Starts a walk over the entries whose names begin with `prefix` (upper-cased a to z only,
// backslash appended; empty matches all). An empty file name selects the memory source.
// Any error gives false, without a message.
bool OpenArchive(const std::string& file_name, const std::string& prefix, EntryHeader& header);
bool FindNextEntry(EntryHeader& header);

// Writes the current entry below `target_folder`: a folder entry is created (with parents), a file
// entry is written with its date and attributes. Every error is shown with Ui().ShowUserMessage;
// a destination path over 255 characters fails with a message naming it. After a failure the read
// position is undefined.
bool ExtractEntry(EntryHeader& header, const std::string& target_folder);
// Writes the current entry's data to `path`; returns the count of bytes delivered by the source.
// Throws host::HostError when the file cannot be created or written.
int32_t ExtractEntryData(EntryHeader& header, const std::string& path);

// For a caller that writes file entries from threads of its own (the extraction pass's writers,
// app/entry_writers.h), the pieces of ExtractEntry one by one:
// Where ExtractEntry writes the current entry below `target_folder`. Throws host::HostError with
// ExtractEntry's message when that path is over 255 characters.
std::string EntryDestination(const EntryHeader& header, const std::string& target_folder);
// The current file entry's data, decoded: `size` bytes, fewer when the source ends first. The
// walk's position and keystream are left as they were. A file source's error passes to the caller.
// The data is held whole: the caller bounds `size` first.
std::vector<uint8_t> ReadEntryData(const EntryHeader& header);
// Writes `data` as the file entry's file at `path`, as ExtractEntry writes it (replacing a file,
// with the entry's date and attributes). Uses no reader state, so any thread may call it. Throws
// host::HostError when the file cannot be created or written.
void WriteEntryFile(const EntryHeader& header, const std::string& path,
                    const std::vector<uint8_t>& data);
// WriteEntryFile for a file that must be new: false, with nothing written, when no new file can be
// created at `path` (the name is taken, the folder is missing, access is refused); the caller then
// writes it with WriteEntryFile, in its turn, which replaces a file or reports why it cannot.
// Throws host::HostError when the new file cannot be written.
bool WriteNewEntryFile(const EntryHeader& header, const std::string& path,
                       const std::vector<uint8_t>& data);
// What ExtractEntry shows when a failure carries no text of its own.
std::string ExtractFailureText(const EntryHeader& header);

// The first min(size, 10,000) bytes of the current entry's data, NULs included; leaves the read
// position at 0. A file source's read or seek error passes to the caller.
std::string ReadEntryText(EntryHeader& header);
void CloseArchive();

}  // namespace archive
