#include "tests/archive/reader_fixture.h"

#include <algorithm>
#include <random>

namespace archive_testing {

std::string SourceName(const ::testing::TestParamInfo<SourceKind>& info) {
  return info.param == SourceKind::kMemory ? "Memory" : "File";
}

Bytes RandomBytes(size_t size, uint32_t seed, size_t nul_every) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) {
    bytes[i] = (nul_every > 0 && i % nul_every == 0) ? 0 : static_cast<uint8_t>(random());
  }
  return bytes;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

ReaderTest::ReaderTest() {
  archive::CloseArchive();
  archive::SetArchiveMemory(nullptr, 0);
  archive::SetArchiveKey(archive::kDefaultArchiveKey);
  archive::SetBlockStreamLength(archive::kInstallerBlockStreamLength);
}

ReaderTest::~ReaderTest() {
  archive::CloseArchive();
  archive::SetArchiveMemory(nullptr, 0);
}

archive::EntrySpec ReaderTest::Spec(const std::string& name, uint32_t attributes,
                                    uint32_t modified) {
  archive::EntrySpec spec;
  spec.name = name;
  spec.attributes = attributes;
  spec.modified = modified;
  spec.seeds = seeds_.Next();
  return spec;
}

void ReaderTest::UseSource(const Bytes& archive, size_t memory_size) {
  if (GetParam() == SourceKind::kMemory) {
    area_ = archive;
    area_.resize(std::max(archive.size(), memory_size), 0);
    archive::SetArchiveMemory(area_.data(), static_cast<int32_t>(area_.size()));
    archive_file_.clear();
  } else {
    archive_file_ = temp_.Sub("archive.bin");
    testing_support::WriteTextFile(archive_file_, std::string(archive.begin(), archive.end()));
  }
}

bool ReaderTest::Open(const std::string& prefix, archive::EntryHeader& header) {
  return archive::OpenArchive(archive_file_, prefix, header);
}

std::vector<std::string> ReaderTest::WalkNames(const std::string& prefix) {
  std::vector<std::string> names;
  archive::EntryHeader header;
  for (bool found = Open(prefix, header); found; found = archive::FindNextEntry(header)) {
    names.push_back(archive::EntryName(header));
  }
  archive::CloseArchive();
  return names;
}

bool ReaderTest::ExtractAll(const std::string& prefix, const std::string& target) {
  archive::EntryHeader header;
  bool ok = true;
  for (bool found = Open(prefix, header); found; found = archive::FindNextEntry(header)) {
    if (!archive::ExtractEntry(header, target)) {
      ok = false;
      break;
    }
  }
  archive::CloseArchive();
  return ok;
}

}  // namespace archive_testing
