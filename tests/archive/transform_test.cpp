#include "archive/transform.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "archive/entry_header.h"

namespace archive {
namespace {

using Bytes = std::vector<uint8_t>;

// The keystream written out step by step, for comparing with what the transforms put on zeros.
class SerialKeystream {
 public:
  SerialKeystream(KeystreamState state, uint32_t key) : state_(state), key_(key) {}
  uint8_t Next() {
    const uint8_t byte = static_cast<uint8_t>(state_.s0);
    state_.s0 ^= state_.s1 + state_.s2;
    state_.s2 += key_ ^ state_.s3;
    return byte;
  }

 private:
  KeystreamState state_;
  uint32_t key_;
};

KeystreamState Seeded(uint8_t k0, uint8_t k1, uint8_t k2, uint8_t k3) {
  const uint8_t seeds[4] = {k0, k1, k2, k3};
  return StateFromSeeds(seeds);
}

void ExpectSameState(const KeystreamState& a, const KeystreamState& b) {
  EXPECT_EQ(a.s0, b.s0);
  EXPECT_EQ(a.s1, b.s1);
  EXPECT_EQ(a.s2, b.s2);
  EXPECT_EQ(a.s3, b.s3);
}

TEST(HeaderTransform, KeyBytesOnZeros) {
  uint8_t bytes[kEntryHeaderSize] = {};
  TransformHeader(bytes);
  const uint8_t first[] = {23, 23, 24, 26, 29, 33, 38, 44};
  for (size_t i = 0; i < sizeof first; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(bytes[i], first[i]);
  }
  // Worked out from the closed form 23 + i(i-1)/2: bytes 260..263 hold the size field, which for a
  // header of zeros (the padding after the last entry) must come out negative.
  EXPECT_EQ(bytes[260], 0x9D);
  EXPECT_EQ(bytes[261], 0xA1);
  EXPECT_EQ(bytes[262], 0xA6);
  EXPECT_EQ(bytes[263], 0xAC);
  EntryHeader header;
  std::memcpy(&header, bytes, kEntryHeaderSize);
  EXPECT_EQ(static_cast<uint32_t>(header.size), 0xACA6A19Du);
  EXPECT_LT(header.size, 0);
}

TEST(HeaderTransform, TwiceIsIdentity) {
  std::mt19937 random(7);
  uint8_t original[kEntryHeaderSize];
  for (auto& byte : original) byte = static_cast<uint8_t>(random());
  uint8_t bytes[kEntryHeaderSize];
  std::memcpy(bytes, original, sizeof bytes);
  TransformHeader(bytes);
  EXPECT_NE(0, std::memcmp(bytes, original, sizeof bytes));
  TransformHeader(bytes);
  EXPECT_EQ(0, std::memcmp(bytes, original, sizeof bytes));
}

// Keystream bytes worked out by hand from the rule, on zeros so the output is the keystream.
TEST(DataTransform, HandComputedKeystream) {
  struct Case {
    const char* name;
    KeystreamState state;
    uint32_t key;
    Bytes expected;
    KeystreamState after;
  };
  const Case cases[] = {
      {"small seeds", Seeded(1, 2, 3, 4), 0x10, {1, 4, 29, 48, 113, 36}, {77, 2, 123, 4}},
      {"zero seeds, wide key",
       Seeded(0, 0, 0, 0),
       0x12345678,
       {0x00, 0x00, 0x78, 0x88, 0xE0, 0x00, 0x58, 0x88},
       {0x01414BC0u, 0, 0x91A2B3C0u, 0}},
      {"state wraps below zero",
       Seeded(0x80, 0x7F, 0xFF, 0x0F),
       0xFFFFFFF0u,
       {0x80, 0xFE, 0x83, 0xFF},
       {0x084, 0x7F, 0xFB, 0x0F}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const bool literal : {false, true}) {
      SCOPED_TRACE(literal ? "literal" : "fast");
      Bytes data(c.expected.size(), 0);
      KeystreamState state = c.state;
      (literal ? TransformDataLiteral : TransformData)(data.data(), data.size(), state, c.key, 50);
      EXPECT_EQ(data, c.expected);
      ExpectSameState(state, c.after);
    }
  }
}

// What the transform puts on a chunk of zeros, position by position, given which positions take
// the keystream: keystream positions consume the serial keystream in order, the others the mask.
Bytes ExpectedOnZeros(size_t length, KeystreamState state, uint32_t key,
                      const std::vector<bool>& on_keystream) {
  SerialKeystream stream(state, key);
  const uint8_t mask = static_cast<uint8_t>((key ^ state.s1) & 0xEE);
  Bytes expected(length);
  for (size_t i = 0; i < length; ++i) expected[i] = on_keystream[i] ? stream.Next() : mask;
  return expected;
}

TEST(DataTransform, BlockStreamLength50MapOverOneChunk) {
  constexpr size_t kChunk = 32'768;
  const KeystreamState start = Seeded(0x3C, 0xA5, 0x19, 0x77);
  const uint32_t key = 0xDEADBEEF;
  // Which positions take the keystream, written as the ranges of the rule for P = 50.
  std::vector<bool> on_keystream(kChunk, false);
  auto mark = [&](size_t first, size_t last) {
    for (size_t i = first; i <= last; ++i) on_keystream[i] = true;
  };
  mark(0, 1050);
  for (size_t block = 2000; block <= 32'000; block += 1000) mark(block, block + 50);
  // Boundaries spelled out, so a mistake in the marking above cannot hide one in the code.
  struct Boundary {
    size_t position;
    bool keystream;
  };
  const Boundary boundaries[] = {{0, true},       {999, true},    {1000, true},   {1050, true},
                                 {1051, false},   {1999, false},  {2000, true},   {2050, true},
                                 {2051, false},   {2999, false},  {32'000, true}, {32'050, true},
                                 {32'051, false}, {32'767, false}};
  for (const Boundary& b : boundaries) {
    SCOPED_TRACE(b.position);
    EXPECT_EQ(on_keystream[b.position], b.keystream);
  }

  Bytes data(kChunk, 0);
  KeystreamState state = start;
  TransformData(data.data(), data.size(), state, key, 50);
  const Bytes expected = ExpectedOnZeros(kChunk, start, key, on_keystream);
  for (size_t i = 0; i < kChunk; ++i) {
    if (data[i] != expected[i]) {
      ADD_FAILURE() << "first difference at position " << i;
      break;
    }
  }

  // The next chunk restarts at position 0 with the state carried over: its first 1000 bytes
  // continue the keystream after the 1000 + 32 * 51 keystream bytes of the first chunk.
  SerialKeystream stream(start, key);
  for (int i = 0; i < 1000 + 32 * 51; ++i) stream.Next();
  Bytes next(1100, 0);
  TransformData(next.data(), next.size(), state, key, 50);
  for (size_t i = 0; i < 1051; ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(next[i], stream.Next());
  }
  EXPECT_EQ(next[1051], static_cast<uint8_t>((key ^ start.s1) & 0xEE));
}

TEST(DataTransform, KeystreamPositionsPerBlockStreamLength) {
  constexpr size_t kLength = 5000;
  struct Case {
    const char* name;
    int32_t block_stream_length;
    size_t keystream_per_later_block;  // block positions 0 .. n-1 take the keystream
  };
  const Case cases[] = {
      {"zero", 0, 1},
      {"one", 1, 2},
      {"998", 998, 999},
      {"999: no mask", 999, 1000},
      {"1000: no mask", 1000, 1000},
      {"largest: no mask", std::numeric_limits<int32_t>::max(), 1000},
      {"minus one: no mask", -1, 1000},
      {"smallest: no mask", std::numeric_limits<int32_t>::min(), 1000},
  };
  const KeystreamState start = Seeded(9, 8, 7, 6);
  const uint32_t key = 0x01020304;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<bool> on_keystream(kLength);
    for (size_t i = 0; i < kLength; ++i) {
      on_keystream[i] = i < 1000 || i % 1000 < c.keystream_per_later_block;
    }
    const Bytes expected = ExpectedOnZeros(kLength, start, key, on_keystream);
    for (const bool literal : {false, true}) {
      SCOPED_TRACE(literal ? "literal" : "fast");
      Bytes data(kLength, 0);
      KeystreamState state = start;
      (literal ? TransformDataLiteral : TransformData)(data.data(), data.size(), state, key,
                                                       c.block_stream_length);
      EXPECT_EQ(data, expected);
    }
  }
}

TEST(DataTransform, FirstThousandBytesIndependentOfBlockStreamLength) {
  const KeystreamState start = Seeded(0xF0, 0x0F, 0x55, 0xAA);
  Bytes reference(3000, 0x5A);
  KeystreamState reference_state = start;
  TransformData(reference.data(), reference.size(), reference_state, 77, 50);
  for (const int32_t p : {-5, 0, 1, 500, 998, 999, 4000}) {
    SCOPED_TRACE(p);
    Bytes data(3000, 0x5A);
    KeystreamState state = start;
    TransformData(data.data(), data.size(), state, 77, p);
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + 1000, reference.begin()));
  }
}

// The fast transform against the literal rule, chunk after chunk with the state carried over.
void ExpectFastMatchesLiteral(const Bytes& input, const std::vector<size_t>& chunks,
                              KeystreamState start, uint32_t key, int32_t p, size_t misalign) {
  // Shifted by `misalign` bytes so the wide-word path also runs on unaligned addresses.
  Bytes fast(misalign, 0);
  fast.insert(fast.end(), input.begin(), input.end());
  Bytes literal = input;
  KeystreamState fast_state = start;
  KeystreamState literal_state = start;
  size_t offset = 0;
  for (const size_t chunk : chunks) {
    TransformData(fast.data() + misalign + offset, chunk, fast_state, key, p);
    TransformDataLiteral(literal.data() + offset, chunk, literal_state, key, p);
    offset += chunk;
  }
  ASSERT_EQ(offset, input.size());
  EXPECT_TRUE(std::equal(literal.begin(), literal.end(),
                         fast.begin() + static_cast<std::ptrdiff_t>(misalign)));
  ExpectSameState(fast_state, literal_state);
}

TEST(DataTransform, FastMatchesLiteralOverTable) {
  const size_t lengths[] = {0, 1, 999, 1000, 1001, 1051, 32'767, 32'768};
  const int32_t block_stream_lengths[] = {
      std::numeric_limits<int32_t>::min(), -1, 0, 1, 50, 998, 999, 1000,
      std::numeric_limits<int32_t>::max()};
  const uint32_t keys[] = {0, 0xFFFFFFFFu, 0x5EC7A11Eu};
  const KeystreamState starts[] = {Seeded(0, 0, 0, 0), Seeded(255, 255, 255, 255),
                                   Seeded(0x12, 0x9C, 0x40, 0xE1)};
  std::mt19937 random(12345);
  Bytes input(2 * 32'768 + 17);
  for (auto& byte : input) byte = static_cast<uint8_t>(random());
  for (const size_t length : lengths) {
    for (const int32_t p : block_stream_lengths) {
      for (const uint32_t key : keys) {
        for (const KeystreamState& start : starts) {
          SCOPED_TRACE(::testing::Message()
                       << "length " << length << " P " << p << " K " << key << " S0 " << start.s0);
          const Bytes data(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(length));
          // One chunk, then the same length twice in a row to carry the state across.
          ExpectFastMatchesLiteral(data, {length}, start, key, p, 0);
          Bytes twice = data;
          twice.insert(twice.end(), data.begin(), data.end());
          ExpectFastMatchesLiteral(twice, {length, length}, start, key, p, 3);
        }
      }
    }
  }
}

TEST(DataTransform, FastMatchesLiteralRandomSweep) {
  std::mt19937 random(20240607);
  for (int round = 0; round < 300; ++round) {
    const auto draw = [&](uint32_t bound) { return static_cast<uint32_t>(random() % bound); };
    int32_t p;
    switch (draw(4)) {
      case 0:
        p = static_cast<int32_t>(draw(1100)) - 50;
        break;
      case 1:
        p = static_cast<int32_t>(random());
        break;
      default:
        p = 50;
        break;
    }
    const uint32_t key = static_cast<uint32_t>(random());
    const KeystreamState start =
        Seeded(static_cast<uint8_t>(random()), static_cast<uint8_t>(random()),
               static_cast<uint8_t>(random()), static_cast<uint8_t>(random()));
    std::vector<size_t> chunks(1 + draw(3));
    size_t total = 0;
    for (auto& chunk : chunks) {
      chunk = draw(40'000);
      total += chunk;
    }
    Bytes input(total);
    for (auto& byte : input) byte = static_cast<uint8_t>(random());
    SCOPED_TRACE(::testing::Message() << "round " << round << " P " << p << " K " << key);
    ExpectFastMatchesLiteral(input, chunks, start, key, p, draw(8));
    if (::testing::Test::HasFailure()) break;
  }
}

TEST(DataTransform, TwiceIsIdentity) {
  std::mt19937 random(99);
  Bytes original(70'000);
  for (auto& byte : original) byte = static_cast<uint8_t>(random());
  Bytes data = original;
  const KeystreamState start = Seeded(1, 200, 3, 100);
  KeystreamState scramble = start;
  TransformData(data.data(), data.size(), scramble, 0xABCDEF01, 50);
  EXPECT_NE(data, original);
  KeystreamState unscramble = start;
  TransformData(data.data(), data.size(), unscramble, 0xABCDEF01, 50);
  EXPECT_EQ(data, original);
}

}  // namespace
}  // namespace archive
