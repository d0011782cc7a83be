// The same walk with the archive file source: the input is written to a file and read back
// through seeks and reads, with text reads mixed in.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "archive/Stacker.h"
#include "fuzz/fuzz_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzing::EmptyScratchFolder();
  const std::string archive_path = fuzzing::ScratchFolder() + "/input.arc";
  {
    std::ofstream out(archive_path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  const std::string target = fuzzing::ScratchFolder() + "/out";
  archive::SetArchiveKey(0x5EC7A11Eu);
  archive::SetBlockStreamLength(size % 2 == 0 ? 50 : -1);

  archive::EntryHeader header{};
  if (archive::OpenArchive(archive_path, "", header)) {
    // The first entry is also read as text; the walk then starts over, as it would after a
    // manifest read.
    (void)archive::ReadEntryText(header);
    for (bool found = archive::FindNextEntry(header); found;
         found = archive::FindNextEntry(header)) {
      if (!fuzzing::StaysInside(archive::EntryName(header))) continue;
      if (!archive::ExtractEntry(header, target)) break;
    }
  }
  archive::CloseArchive();
  return 0;
}
