// The installer's extraction pass without its window, for counting what it asks of the system
// per file (bench/installer_bench.py --requests): reads a raw archive into memory, points the
// reader at it as the window points it at the package block, and extracts every entry of one
// part into a folder, as a job's pass does.
//
// usage: extraction_pass ARCHIVE PART FOLDER   (prints the number of entries extracted)
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/Stacker.h"
#include "archive/archive_writer.h"
#include "host/files.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: extraction_pass ARCHIVE PART FOLDER\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
  archive::SetArchiveMemory(reinterpret_cast<const uint8_t*>(bytes.data()),
                            static_cast<int32_t>(bytes.size()));
  archive::SetArchiveKey(archive::kDefaultArchiveKey);
  archive::SetBlockStreamLength(archive::kInstallerBlockStreamLength);
  host::CreateFolderWithParents(argv[3]);
  archive::EntryHeader header{};
  int extracted = 0;
  for (bool found = archive::OpenArchive(std::string(), argv[2], header); found;
       found = archive::FindNextEntry(header)) {
    if (!archive::ExtractEntry(header, argv[3])) return 1;
    ++extracted;
  }
  std::printf("%d\n", extracted);
  return 0;
}
