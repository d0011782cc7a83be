// Benchmarks of the data transform, of the header walk and of the installer's package check.
//
// Every transform case times a memcpy of the same bytes in the same run, pass for pass, and reports
// the ratio: vs_memcpy = memcpy time / transform time, so 1.0 means "as fast as copying the bytes"
// and more is faster. Both are timed with the same clock, alternating, so a change in the machine's
// load during the run touches both.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "archive/Stacker.h"
#include "archive/archive_writer.h"
#include "archive/entry_header.h"
#include "archive/package_block.h"
#include "archive/package_check.h"
#include "archive/transform.h"

namespace {

using TransformFunction = void (*)(uint8_t*, size_t, archive::KeystreamState&, uint32_t, int32_t);

constexpr size_t kChunk = static_cast<size_t>(archive::kChunkSize);
constexpr size_t kLargeBuffer = size_t{64} << 20;
constexpr uint32_t kKey = archive::kDefaultArchiveKey;
constexpr uint8_t kSeeds[4] = {0x3C, 0xA5, 0x19, 0x77};

// Buffers start on a page boundary. On some processors (AMD Zen 3 here) glibc's memcpy of a
// few KiB and more slows down twenty-fold when the target lies 1 to 31 bytes past the source
// modulo 4096; page-aligned buffers keep the baseline at its best rather than at that accident.
struct FreeBuffer {
  void operator()(uint8_t* bytes) const { std::free(bytes); }
};
using Buffer = std::unique_ptr<uint8_t[], FreeBuffer>;
constexpr size_t kPage = 4096;

// Bytes from a fixed generator; every page is written here, before any timing, so that no timed
// pass pays for the first touch of memory.
Buffer FilledBuffer(size_t size, uint64_t seed) {
  const size_t whole_pages = (size + kPage - 1) / kPage * kPage;
  Buffer bytes(static_cast<uint8_t*>(std::aligned_alloc(kPage, whole_pages)));
  if (!bytes) std::abort();
  uint64_t x = seed;
  for (size_t i = 0; i < size; i += 8) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    std::memcpy(bytes.get() + i, &x, std::min<size_t>(8, size - i));
  }
  return bytes;
}

uint8_t* LargeSource() {
  static const Buffer bytes = FilledBuffer(kLargeBuffer, 0x9E3779B97F4A7C15ull);
  return bytes.get();
}

uint8_t* LargeDestination() {
  static const Buffer bytes = FilledBuffer(kLargeBuffer, 0xD1B54A32D192ED03ull);
  return bytes.get();
}

template <typename Pass>
double SecondsOf(Pass pass) {
  const auto start = std::chrono::steady_clock::now();
  pass();
  benchmark::ClobberMemory();
  const auto end = std::chrono::steady_clock::now();
  return std::chrono::duration<double>(end - start).count();
}

// Runs `work` and `baseline` alternately, once each per iteration; the iteration's time is the
// work's. Reports bytes per second of both and the ratio.
template <typename Work, typename Baseline>
void RunAgainstBaseline(benchmark::State& state, size_t bytes_per_pass, Work work,
                        Baseline baseline) {
  double work_seconds = 0;
  double baseline_seconds = 0;
  for (auto _ : state) {
    const double work_pass = SecondsOf(work);
    baseline_seconds += SecondsOf(baseline);
    work_seconds += work_pass;
    state.SetIterationTime(work_pass);
  }
  const double bytes =
      static_cast<double>(bytes_per_pass) * static_cast<double>(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  state.counters["memcpy_bytes_per_second"] = benchmark::Counter(
      bytes / baseline_seconds, benchmark::Counter::kDefaults, benchmark::Counter::kIs1024);
  state.counters["vs_memcpy"] = baseline_seconds / work_seconds;
}

// The main case: the transform in place over each 32,768-byte chunk of a 64 MiB buffer, the state
// carried from chunk to chunk; the baseline copies each chunk to the same place in a second
// 64 MiB buffer.
void BM_TransformInPlace(benchmark::State& state, TransformFunction transform) {
  const auto block_stream_length = static_cast<int32_t>(state.range(0));
  uint8_t* data = LargeSource();
  uint8_t* copy = LargeDestination();
  RunAgainstBaseline(
      state, kLargeBuffer,
      [&] {
        archive::KeystreamState keystream = archive::StateFromSeeds(kSeeds);
        for (size_t offset = 0; offset < kLargeBuffer; offset += kChunk) {
          transform(data + offset, kChunk, keystream, kKey, block_stream_length);
        }
        benchmark::DoNotOptimize(keystream);
      },
      [&] {
        for (size_t offset = 0; offset < kLargeBuffer; offset += kChunk) {
          std::memcpy(copy + offset, data + offset, kChunk);
        }
        benchmark::DoNotOptimize(copy);
      });
}

// What the reader does with its memory source: copy a chunk of the archive into the one chunk
// buffer, then transform it there. The baseline is the copy alone, so the ratio shows what the
// transform adds to it.
void BM_CopyThenTransform(benchmark::State& state, TransformFunction transform) {
  const auto block_stream_length = static_cast<int32_t>(state.range(0));
  const uint8_t* archive_area = LargeSource();
  const Buffer chunk_buffer = FilledBuffer(kChunk, 1);
  uint8_t* chunk = chunk_buffer.get();
  RunAgainstBaseline(
      state, kLargeBuffer,
      [&] {
        archive::KeystreamState keystream = archive::StateFromSeeds(kSeeds);
        for (size_t offset = 0; offset < kLargeBuffer; offset += kChunk) {
          std::memcpy(chunk, archive_area + offset, kChunk);
          transform(chunk, kChunk, keystream, kKey, block_stream_length);
          benchmark::DoNotOptimize(chunk);
        }
      },
      [&] {
        for (size_t offset = 0; offset < kLargeBuffer; offset += kChunk) {
          std::memcpy(chunk, archive_area + offset, kChunk);
          benchmark::DoNotOptimize(chunk);
        }
      });
}

// One chunk that stays in the first-level caches, transformed over and over: the transform's own
// speed, with memory out of the picture. The baseline copies the chunk to a second cached buffer.
void BM_TransformInCache(benchmark::State& state, TransformFunction transform) {
  constexpr size_t kRounds = 256;
  const auto block_stream_length = static_cast<int32_t>(state.range(0));
  const Buffer source = FilledBuffer(kChunk, 2);
  const Buffer target = FilledBuffer(kChunk, 3);
  RunAgainstBaseline(
      state, kRounds * kChunk,
      [&] {
        archive::KeystreamState keystream = archive::StateFromSeeds(kSeeds);
        for (size_t round = 0; round < kRounds; ++round) {
          transform(source.get(), kChunk, keystream, kKey, block_stream_length);
          benchmark::DoNotOptimize(source.get());
        }
      },
      [&] {
        for (size_t round = 0; round < kRounds; ++round) {
          std::memcpy(target.get(), source.get(), kChunk);
          benchmark::DoNotOptimize(target.get());
        }
      });
}

// An archive of 100,000 small entries: 1,000 folders under C, each holding 99 files of 1 to 16
// bytes. The walk reads every header whatever the prefix; "C" matches every entry, "S" none.
constexpr int kFolders = 1000;
constexpr int kFilesPerFolder = 99;
constexpr int kWalkEntries = kFolders * (kFilesPerFolder + 1);

const archive::MemoryArchive& TinyEntryArchive() {
  static const archive::MemoryArchive* const built = [] {
    auto* memory = new archive::MemoryArchive();
    archive::SeedGenerator seeds;
    const std::string data(16, 'x');
    char name[64];
    for (int folder = 0; folder < kFolders; ++folder) {
      std::snprintf(name, sizeof name, "C\\folder%04d", folder);
      archive::EntrySpec spec{name, 0, 0x58C7A000u, seeds.Next()};
      memory->writer().AddFolder(spec);
      for (int file = 0; file < kFilesPerFolder; ++file) {
        std::snprintf(name, sizeof name, "C\\folder%04d\\file%02d.txt", folder, file);
        spec = archive::EntrySpec{name, 0x20, 0x58C7A000u, seeds.Next()};
        memory->writer().AddFile(spec, data.substr(0, static_cast<size_t>(1 + file % 16)));
      }
    }
    return memory;
  }();
  return *built;
}

void BM_HeaderWalk(benchmark::State& state, const char* prefix) {
  const std::vector<uint8_t>& bytes = TinyEntryArchive().bytes();
  archive::SetArchiveMemory(bytes.data(), static_cast<int32_t>(bytes.size()));
  int64_t matched = 0;
  for (auto _ : state) {
    archive::EntryHeader header{};
    matched = 0;
    for (bool found = archive::OpenArchive(std::string(), prefix, header); found;
         found = archive::FindNextEntry(header)) {
      ++matched;
    }
    archive::CloseArchive();
    benchmark::DoNotOptimize(matched);
  }
  state.SetItemsProcessed(state.iterations() * kWalkEntries);
  state.counters["entries_matched"] = static_cast<double>(matched);
  state.counters["archive_bytes"] = static_cast<double>(bytes.size());
}

// The installer's check of its own package at start-up: the CRC-32 of a full 18,000,000-byte
// archive area, which must stay well below what a user notices (20 ms).
void BM_ArchiveCheck(benchmark::State& state) {
  const size_t size = static_cast<size_t>(archive::kArchiveCapacity);
  std::vector<uint8_t> area(size);
  uint32_t x = 0x12345678u;
  for (uint8_t& byte : area) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    byte = static_cast<uint8_t>(x);
  }
  const archive::ArchiveCheck check = archive::CheckOfArchive(area.data(), size);
  for (auto _ : state) {
    benchmark::DoNotOptimize(archive::AreaMatchesCheck(area.data(), size, check));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

void BlockStreamLengths(benchmark::internal::Benchmark* benchmark) {
  benchmark->ArgName("P")->Arg(50)->Arg(0)->Arg(-1)->UseManualTime()->Unit(benchmark::kMillisecond);
}

BENCHMARK_CAPTURE(BM_TransformInPlace, literal, &archive::TransformDataLiteral)
    ->Apply(BlockStreamLengths);
BENCHMARK_CAPTURE(BM_TransformInPlace, fast, &archive::TransformData)->Apply(BlockStreamLengths);
BENCHMARK_CAPTURE(BM_CopyThenTransform, literal, &archive::TransformDataLiteral)
    ->Apply(BlockStreamLengths);
BENCHMARK_CAPTURE(BM_CopyThenTransform, fast, &archive::TransformData)->Apply(BlockStreamLengths);
BENCHMARK_CAPTURE(BM_TransformInCache, literal, &archive::TransformDataLiteral)
    ->Apply(BlockStreamLengths);
BENCHMARK_CAPTURE(BM_TransformInCache, fast, &archive::TransformData)->Apply(BlockStreamLengths);
BENCHMARK_CAPTURE(BM_HeaderWalk, every_entry, "C")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_HeaderWalk, no_entry, "S")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArchiveCheck)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
