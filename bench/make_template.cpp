// Writes a stand-in installer template for the packing benchmark: filler standing in for the
// program's code, then a package block with an empty archive area and a settings record, laid out
// as a built installer carries them. `setup-pack build` takes it as its TEMPLATE.
//
// usage: bench_make_template OUT
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "archive/archive_writer.h"
#include "archive/package_block.h"
#include "archive/settings_record.h"

namespace {

// Roughly what the code and resources of the real program take before its initialized data.
constexpr size_t kFillerSize = 1u << 20;

std::vector<uint8_t> TemplateBytes() {
  std::vector<uint8_t> bytes(kFillerSize, 0);
  uint32_t x = 0x2545F491u;
  for (uint8_t& byte : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    // Printable filler, so the marker bytes (which start with a control byte) cannot occur in it.
    byte = static_cast<uint8_t>('a' + x % 26);
  }
  const size_t block = bytes.size();
  bytes.resize(block + sizeof(archive::PackageBlock), 0);
  std::memcpy(bytes.data() + block, archive::kPackageMarker, archive::kMarkerFieldSize);
  archive::WriteLittleEndian32(bytes.data() + block + offsetof(archive::PackageBlock, capacity),
                               static_cast<uint32_t>(archive::kArchiveCapacity));
  const char caption[] = "Benchmark";
  uint8_t* caption_field = bytes.data() + block + offsetof(archive::PackageBlock, caption);
  caption_field[0] = static_cast<uint8_t>(sizeof caption - 1);
  std::memcpy(caption_field + 1, caption, sizeof caption - 1);

  const size_t record = bytes.size();
  bytes.resize(record + sizeof(archive::SettingsRecord), 0);
  std::memcpy(bytes.data() + record, archive::kSettingsMarker, archive::kSettingsMarkerSize);
  archive::WriteLittleEndian32(
      bytes.data() + record + offsetof(archive::SettingsRecord, job),
      static_cast<uint32_t>(archive::JobKind::kApplicationSetup));
  archive::WriteLittleEndian32(bytes.data() + record + offsetof(archive::SettingsRecord, key),
                               archive::kDefaultArchiveKey);
  bytes.resize(bytes.size() + 4096, 0);
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_make_template OUT\n");
    return 2;
  }
  const std::vector<uint8_t> bytes = TemplateBytes();
  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() ||
      std::fclose(out) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
