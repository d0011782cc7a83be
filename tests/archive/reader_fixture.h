// A fixture for reader tests: puts an archive made by the writer into the memory source (a
// zero-padded area, like the package block) or into a file, and walks it the way the jobs do.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "archive/Stacker.h"
#include "archive/archive_writer.h"
#include "archive/package_block.h"
#include "tests/support/recording_ui.h"
#include "tests/support/temp_folder.h"

namespace archive_testing {

using Bytes = std::vector<uint8_t>;

enum class SourceKind { kMemory, kFile };
std::string SourceName(const ::testing::TestParamInfo<SourceKind>& info);

// Fixed-size random bytes from a fixed seed; `nul_every` > 0 puts a NUL at every such position.
Bytes RandomBytes(size_t size, uint32_t seed, size_t nul_every = 0);
Bytes Concat(std::initializer_list<Bytes> parts);

class ReaderTest : public ::testing::TestWithParam<SourceKind> {
 protected:
  ReaderTest();
  ~ReaderTest() override;

  // A spec with the next seeds of the fixture's generator.
  archive::EntrySpec Spec(const std::string& name, uint32_t attributes = 0x20,
                          uint32_t modified = kDefaultModified);

  // Makes `archive` the reader's source of the parameter's kind. The memory source is padded with
  // zeros to `memory_size` bytes (never shorter than the archive); a file holds the archive only.
  void UseSource(const Bytes& archive, size_t memory_size = archive::kArchiveCapacity);
  bool Open(const std::string& prefix, archive::EntryHeader& header);
  // The names a walk on `prefix` finds, in order.
  std::vector<std::string> WalkNames(const std::string& prefix);
  // Extracts every entry under `prefix` into `target`, stopping at the first failure as a job does.
  bool ExtractAll(const std::string& prefix, const std::string& target);

  static constexpr uint32_t kDefaultModified = 0x52A46B2E;  // 2021-05-04 13:25:28

  testing_support::TempFolder temp_;
  testing_support::RecordingUi ui_;
  archive::SeedGenerator seeds_;
  Bytes area_;
  std::string archive_file_;
};

}  // namespace archive_testing
