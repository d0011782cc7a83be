// The manifest reader over arbitrary text, and over arbitrary archives in the memory source.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/Stacker.h"
#include "archive/archive_writer.h"
#include "archive/manifest.h"
#include "archive/package_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  (void)archive::SplitManifestLines(text);

  // As the id.txt entry of a well-formed archive.
  archive::MemoryArchive package;
  archive::EntrySpec spec;
  spec.name = "id.txt";
  package.writer().AddFile(spec, text);
  std::vector<uint8_t> area = package.bytes();
  archive::SetArchiveKey(archive::kDefaultArchiveKey);
  archive::SetBlockStreamLength(archive::kInstallerBlockStreamLength);
  archive::SetArchiveMemory(area.data(), static_cast<int32_t>(area.size()));
  archive::ReadManifest();

  // As a whole archive area.
  std::vector<uint8_t> raw(data, data + size);
  archive::SetArchiveMemory(raw.data(), static_cast<int32_t>(raw.size()));
  archive::ReadManifest();
  archive::SetArchiveMemory(nullptr, 0);
  return 0;
}
