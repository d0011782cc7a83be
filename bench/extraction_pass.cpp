// The installer's extraction pass without its window, for counting what it asks of the system
// per file (bench/installer_bench.py --requests): reads a raw archive into memory, points the
// reader at it as the window points it at the package block, and runs a job's pass
// (app::ExtractPart, with its writer threads) over one part into a folder.
//
// usage: extraction_pass ARCHIVE PART FOLDER   (prints "done" when every entry was extracted)
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/MainUnit.h"
#include "archive/Stacker.h"
#include "archive/archive_writer.h"

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
  if (!app::ExtractPart(argv[2], argv[3])) return 1;
  std::printf("done\n");
  return 0;
}
