#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/Stacker.h"
#include "archive/archive_writer.h"
#include "archive/entry_header.h"
#include "archive/transform.h"
#include "host/files.h"
#include "tests/archive/reader_fixture.h"
#include "tests/support/platform_support.h"

namespace archive_testing {
namespace {

using archive::ArchiveWriter;
using archive::EntrySpec;
using archive::MemoryArchive;
using testing_support::DosDateTime;

// The header key written out from its closed form, apart from the code under test.
uint8_t HeaderKey(size_t i) { return static_cast<uint8_t>(23 + i * (i - 1) / 2); }

uint32_t LittleEndian32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// Every byte of a one-entry archive, worked out by hand: the header XOR its key, the data XOR the
// keystream of seeds 0,0,0,0 under K = 0x12345678 (0, 0, 0x78, 0x88, 0xE0, 0, 0x58, 0x88).
TEST(ArchiveWriter, BytesOfOneEntry) {
  MemoryArchive archive(0x12345678, 50);
  EntrySpec spec;
  spec.name = "id.txt";
  spec.attributes = 0x21;
  spec.modified = 0x5A2B6C3D;
  archive.writer().AddFile(spec, "ABCDEFGH");
  const std::vector<uint8_t>& bytes = archive.bytes();
  ASSERT_EQ(bytes.size(), 272u + 8u);
  EXPECT_EQ(archive.writer().BytesWritten(), 280);

  std::vector<uint8_t> header(bytes.begin(), bytes.begin() + 272);
  for (size_t i = 0; i < header.size(); ++i) header[i] ^= HeaderKey(i);
  EXPECT_EQ(std::vector<uint8_t>(header.begin(), header.begin() + 4),
            (std::vector<uint8_t>{0, 0, 0, 0}));
  EXPECT_EQ(header[4], 6);
  EXPECT_EQ(std::string(header.begin() + 5, header.begin() + 11), "id.txt");
  for (size_t i = 11; i < 260; ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(header[i], 0);
  }
  EXPECT_EQ(LittleEndian32(&header[260]), 8u);
  EXPECT_EQ(LittleEndian32(&header[264]), 0x21u);
  EXPECT_EQ(LittleEndian32(&header[268]), 0x5A2B6C3Du);

  const uint8_t keystream[] = {0x00, 0x00, 0x78, 0x88, 0xE0, 0x00, 0x58, 0x88};
  for (size_t i = 0; i < 8; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(bytes[272 + i], static_cast<uint8_t>('A' + i) ^ keystream[i]);
  }
}

TEST(ArchiveWriter, FolderEntryHasFolderBitAndNoData) {
  MemoryArchive archive;
  EntrySpec spec;
  spec.name = "C\\lib";
  spec.attributes = 0x01;
  archive.writer().AddFolder(spec);
  ASSERT_EQ(archive.bytes().size(), archive::kEntryHeaderSize);
  archive::EntryHeader header;
  std::memcpy(&header, archive.bytes().data(), sizeof header);
  archive::TransformHeader(reinterpret_cast<uint8_t*>(&header));
  EXPECT_EQ(archive::EntryName(header), "C\\lib");
  EXPECT_EQ(header.size, 0);
  EXPECT_EQ(header.attributes, 0x11u);
  EXPECT_TRUE(archive::IsFolderEntry(header));
}

// The writer's chunks are the reader's: 32,768 bytes, the position restarting in each, the
// last chunk taking the rest. Checked against the literal rule applied chunk by chunk.
TEST(ArchiveWriter, DataIsChunkedLikeTheReader) {
  const Bytes data = RandomBytes(2 * 32'768 + 4'321, 17);
  MemoryArchive archive(0xCAFEBABE, 50);
  EntrySpec spec;
  spec.name = "big";
  spec.seeds = {0x11, 0x22, 0x33, 0x44};
  archive.writer().AddFile(spec, data.data(), data.size());
  Bytes stored(archive.bytes().begin() + 272, archive.bytes().end());
  ASSERT_EQ(stored.size(), data.size());
  archive::KeystreamState state = archive::StateFromSeeds(spec.seeds.data());
  for (size_t offset = 0; offset < stored.size(); offset += 32'768) {
    const size_t length = std::min<size_t>(32'768, stored.size() - offset);
    archive::TransformDataLiteral(stored.data() + offset, length, state, 0xCAFEBABE, 50);
  }
  EXPECT_EQ(stored, data);
}

TEST(ArchiveWriter, StreamedPiecesGiveTheSameBytesAsOneCall) {
  struct Case {
    const char* name;
    size_t size;
    std::vector<size_t> pieces;  // repeated until the size is reached
  };
  const Case cases[] = {
      {"empty", 0, {1}},
      {"one byte", 1, {1}},
      {"one chunk in odd pieces", 32'768, {1, 999, 7'000}},
      {"a chunk and one byte", 32'769, {32'768, 1}},
      {"three chunks in pieces straddling them", 100'000, {32'767, 2, 40'000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes data = RandomBytes(c.size, 3);
    EntrySpec spec;
    spec.name = "S\\f.bin";
    spec.seeds = {9, 8, 7, 6};
    MemoryArchive whole;
    whole.writer().AddFile(spec, data.data(), data.size());
    MemoryArchive streamed;
    streamed.writer().BeginFile(spec, static_cast<int32_t>(c.size));
    size_t offset = 0;
    for (size_t i = 0; offset < c.size; ++i) {
      const size_t piece = std::min(c.pieces[i % c.pieces.size()], c.size - offset);
      streamed.writer().WriteData(data.data() + offset, piece);
      offset += piece;
    }
    streamed.writer().EndFile();
    EXPECT_EQ(streamed.bytes(), whole.bytes());
  }
}

TEST(ArchiveWriter, MisuseThrows) {
  EntrySpec spec;
  spec.name = "x";
  const uint8_t byte = 0;
  struct Case {
    const char* name;
    void (*misuse)(ArchiveWriter& writer, const EntrySpec& spec, const uint8_t* byte);
  };
  const Case cases[] = {
      {"more data than announced",
       [](ArchiveWriter& w, const EntrySpec& s, const uint8_t* b) {
         w.BeginFile(s, 0);
         w.WriteData(b, 1);
       }},
      {"less data than announced",
       [](ArchiveWriter& w, const EntrySpec& s, const uint8_t*) {
         w.BeginFile(s, 2);
         w.EndFile();
       }},
      {"data outside a file",
       [](ArchiveWriter& w, const EntrySpec&, const uint8_t* b) { w.WriteData(b, 1); }},
      {"end outside a file",
       [](ArchiveWriter& w, const EntrySpec&, const uint8_t*) { w.EndFile(); }},
      {"a second begin",
       [](ArchiveWriter& w, const EntrySpec& s, const uint8_t*) {
         w.BeginFile(s, 1);
         w.BeginFile(s, 1);
       }},
      {"a folder inside a file",
       [](ArchiveWriter& w, const EntrySpec& s, const uint8_t*) {
         w.BeginFile(s, 1);
         w.AddFolder(s);
       }},
      {"a negative size",
       [](ArchiveWriter& w, const EntrySpec& s, const uint8_t*) { w.BeginFile(s, -1); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryArchive archive;
    EXPECT_THROW(c.misuse(archive.writer(), spec, &byte), std::logic_error);
  }
  MemoryArchive archive;
  spec.name = std::string(256, 'n');
  EXPECT_THROW(archive.writer().AddFolder(spec), std::length_error);
  spec.name = std::string(255, 'n');
  archive.writer().AddFolder(spec);
  EXPECT_EQ(archive.bytes().size(), archive::kEntryHeaderSize);
}

TEST(SeedGenerator, IsDeterministic) {
  // splitmix64 from state 0 first gives 0xE220A8397B1DCDAF; the seeds are its low four bytes.
  archive::SeedGenerator zero(0);
  EXPECT_EQ(zero.Next(), (std::array<uint8_t, 4>{0xAF, 0xCD, 0x1D, 0x7B}));
  archive::SeedGenerator a;
  archive::SeedGenerator b;
  std::vector<std::array<uint8_t, 4>> from_a;
  for (int i = 0; i < 50; ++i) {
    from_a.push_back(a.Next());
    EXPECT_EQ(from_a.back(), b.Next());
  }
  EXPECT_NE(from_a[0], from_a[1]);
}

// A package of several megabytes through the writer and back through the reader.
class RoundTripTest : public ReaderTest {
 protected:
  struct StoredFile {
    Bytes data;
    uint32_t attributes;
    uint32_t modified;
  };

  Bytes BuildPackage() {
    MemoryArchive archive;
    ArchiveWriter& writer = archive.writer();
    uint32_t day = 1;
    auto file = [&](const std::string& name, Bytes data, uint32_t attributes) {
      const uint32_t modified = DosDateTime(2020, 3, static_cast<int>(day++), 10, 20, 30);
      writer.AddFile(Spec(name, attributes, modified), data.data(), data.size());
      files_[name] = StoredFile{std::move(data), attributes, modified};
    };
    writer.AddFolder(Spec("C", 0x10));
    writer.AddFolder(Spec("C\\lib", 0x10));
    writer.AddFolder(Spec("C\\lib\\deep", 0x10));
    writer.AddFolder(Spec("C\\lib\\deep\\er", 0x10));
    file("C\\readme.txt", RandomBytes(700, 1), 0x20);
    file("C\\readonly.txt", RandomBytes(3'000, 2), 0x21);
    file("C\\empty.txt", {}, 0x20);
    file("C\\nuls.bin", RandomBytes(50'000, 3, 3), 0x20);
    file("C\\lib\\exact.bin", RandomBytes(32'768, 4), 0x20);
    file("C\\lib\\two-chunks.bin", RandomBytes(65'537, 5), 0x20);
    // Streamed, as the packing tool writes large files.
    const Bytes big = RandomBytes(3'000'001, 6);
    const uint32_t big_modified = DosDateTime(2023, 11, 30, 23, 59, 58);
    writer.BeginFile(Spec("C\\lib\\deep\\er\\big.bin", 0x20, big_modified),
                     static_cast<int32_t>(big.size()));
    for (size_t offset = 0; offset < big.size(); offset += 100'003) {
      writer.WriteData(big.data() + offset, std::min<size_t>(100'003, big.size() - offset));
    }
    writer.EndFile();
    files_["C\\lib\\deep\\er\\big.bin"] = StoredFile{big, 0x20, big_modified};
    writer.AddFolder(Spec("S", 0x10));
    file("S\\Setup.exe", RandomBytes(1'000'000, 7), 0x20);
    file("id.txt", {'D', '7', '\r', '\n', 'P', 'r', 'o', 'd'}, 0x20);
    return archive.bytes();
  }

  void ExpectExtracted(const std::string& prefix, const std::string& target) {
    for (const auto& [name, stored] : files_) {
      if (name.compare(0, prefix.size() + 1, prefix + "\\") != 0) continue;
      SCOPED_TRACE(name);
      const std::string path = target + "\\" + name.substr(prefix.size() + 1);
      EXPECT_EQ(testing_support::ReadWholeFile(path),
                std::string(stored.data.begin(), stored.data.end()));
      EXPECT_EQ(testing_support::LastWriteLocalDosTime(path), stored.modified);
      EXPECT_EQ(testing_support::IsReadOnly(path), (stored.attributes & 0x01) != 0);
    }
  }

  std::map<std::string, StoredFile> files_;
};

TEST_P(RoundTripTest, PackageOfSeveralMegabytes) {
  const Bytes package = BuildPackage();
  ASSERT_GT(package.size(), 4'000'000u);
  UseSource(package);
  const std::string c_target = temp_.Sub("product");
  const std::string s_target = temp_.Sub("setup");
  ASSERT_TRUE(host::CreateFolderWithParents(s_target));
  ASSERT_TRUE(ExtractAll("C", c_target));
  ASSERT_TRUE(ExtractAll("S", s_target));
  EXPECT_TRUE(ui_.Messages().empty());
  ExpectExtracted("C", c_target);
  ExpectExtracted("S", s_target);
  EXPECT_TRUE(host::FolderExists(c_target + "\\lib\\deep\\er"));
  EXPECT_FALSE(host::FileExists(c_target + "\\id.txt"));

  archive::EntryHeader header;
  ASSERT_TRUE(Open("id.txt", header));
  EXPECT_EQ(archive::ReadEntryText(header), "D7\r\nProd");
  archive::CloseArchive();
}

INSTANTIATE_TEST_SUITE_P(Sources, RoundTripTest,
                         ::testing::Values(SourceKind::kMemory, SourceKind::kFile), SourceName);

}  // namespace
}  // namespace archive_testing
