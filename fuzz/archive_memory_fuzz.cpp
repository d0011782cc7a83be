// A walk over an arbitrary archive area held in memory, extracting every entry into a scratch
// folder: no crash, no read outside the area, no write outside the folder.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "archive/Stacker.h"
#include "fuzz/fuzz_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A copy of exactly `size` bytes, so ASan sees any read past the area.
  std::vector<uint8_t> area(data, data + size);
  fuzzing::EmptyScratchFolder();
  archive::SetArchiveKey(0x5EC7A11Eu);
  archive::SetBlockStreamLength(50);
  archive::SetArchiveMemory(area.data(), static_cast<int32_t>(area.size()));

  archive::EntryHeader header{};
  for (bool found = archive::OpenArchive("", "", header); found;
       found = archive::FindNextEntry(header)) {
    if (!fuzzing::StaysInside(archive::EntryName(header))) continue;
    if (!archive::ExtractEntry(header, fuzzing::ScratchFolder())) break;
  }
  archive::CloseArchive();
  return 0;
}
