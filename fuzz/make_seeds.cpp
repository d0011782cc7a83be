// Writes the small seed corpora of the fuzz targets with the project's own archive writer:
//   fuzz_make_seeds OUTPUT_FOLDER
// makes OUTPUT_FOLDER/<target>/seed-*. The seeds are kept in the repository; run this again only
// when the format's fixtures should change.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "archive/archive_writer.h"
#include "archive/entry_header.h"

namespace {

namespace fs = std::filesystem;

void WriteSeed(const fs::path& folder, const std::string& name, const std::vector<uint8_t>& bytes) {
  fs::create_directories(folder);
  std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> TextBytes(const std::string& text) { return {text.begin(), text.end()}; }

archive::EntrySpec Spec(const std::string& name, uint32_t attributes,
                        archive::SeedGenerator& seeds) {
  archive::EntrySpec spec;
  spec.name = name;
  spec.attributes = attributes;
  spec.modified = 0x5A2B6C3Du;
  spec.seeds = seeds.Next();
  return spec;
}

std::vector<uint8_t> LibraryPackage() {
  archive::SeedGenerator seeds;
  archive::MemoryArchive package;
  auto& writer = package.writer();
  writer.AddFile(Spec("id.txt", 0x20, seeds),
                 "S Target IDE:  D7\r\nD Folder:      Vexilor\r\n");
  writer.AddFolder(Spec("C", 0x10, seeds));
  writer.AddFolder(Spec("C\\Source", 0x10, seeds));
  writer.AddFile(Spec("C\\Source\\Unit1.pas", 0x20, seeds), "unit Unit1;\r\ninterface\r\nend.\r\n");
  writer.AddFile(Spec("C\\ReadOnly.txt", 0x21, seeds), std::string(1200, 'r'));
  writer.AddFile(Spec("C\\Empty.txt", 0x20, seeds), "");
  writer.AddFolder(Spec("S", 0x10, seeds));
  writer.AddFile(Spec("S\\Setup.ini", 0x20, seeds), "[Setup]\r\n");
  return package.bytes();
}

std::vector<uint8_t> NegativeSizeAfterEntry() {
  archive::SeedGenerator seeds;
  archive::MemoryArchive package;
  package.writer().AddFile(Spec("P\\a.txt", 0x20, seeds), "abc");
  archive::EntryHeader header{};
  archive::SetEntryName(header, "P\\b.txt");
  header.size = -5;
  package.writer().AddRawHeader(header);
  return package.bytes();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: fuzz_make_seeds OUTPUT_FOLDER\n";
    return 2;
  }
  const fs::path out = argv[1];
  const auto library = LibraryPackage();
  const auto negative = NegativeSizeAfterEntry();
  for (const char* target : {"fuzz_archive_memory", "fuzz_archive_file", "fuzz_setup_pack"}) {
    WriteSeed(out / target, "seed-library", library);
    WriteSeed(out / target, "seed-negative-size", negative);
  }
  WriteSeed(out / "fuzz_manifest", "seed-crlf", TextBytes("S Target IDE:  D7\r\nD Folder:      Vexilor\r\n"));
  WriteSeed(out / "fuzz_manifest", "seed-mixed",
            TextBytes("S             C5\rD\nd lower:       x\r\n\r\nD Nested:      Vendor\\Product"));
  static const char kWithNul[] = "S xx          D6\0D yy          Z";
  WriteSeed(out / "fuzz_manifest", "seed-nul", TextBytes(std::string(kWithNul, sizeof kWithNul - 1)));
  return 0;
}
