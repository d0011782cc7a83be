#include "archive/transform.h"

#include <algorithm>
#include <cstring>

#include "archive/entry_header.h"

namespace archive {
namespace {

constexpr size_t kBlockLength = 1000;
constexpr uint8_t kFirstHeaderKey = 23;
constexpr uint32_t kMaskBits = 0xEE;

// The keystream over `length` bytes. S1 and K ^ S3 are constant for an entry, so S1 + S2 can be
// carried as one running sum: the loop then holds a single xor chain and a single add chain,
// which is as short as a dependency chain over S0 can be.
void ApplyKeystream(uint8_t* data, size_t length, KeystreamState& state, uint32_t key) {
  uint32_t s0 = state.s0;
  uint32_t sum = state.s1 + state.s2;
  const uint32_t step = key ^ state.s3;
  size_t i = 0;
  for (; i + 4 <= length; i += 4) {
    const uint8_t k0 = static_cast<uint8_t>(s0);
    s0 ^= sum;
    sum += step;
    const uint8_t k1 = static_cast<uint8_t>(s0);
    s0 ^= sum;
    sum += step;
    const uint8_t k2 = static_cast<uint8_t>(s0);
    s0 ^= sum;
    sum += step;
    const uint8_t k3 = static_cast<uint8_t>(s0);
    s0 ^= sum;
    sum += step;
    data[i] ^= k0;
    data[i + 1] ^= k1;
    data[i + 2] ^= k2;
    data[i + 3] ^= k3;
  }
  for (; i < length; ++i) {
    data[i] ^= static_cast<uint8_t>(s0);
    s0 ^= sum;
    sum += step;
  }
  state.s0 = s0;
  state.s2 = sum - state.s1;
}

// XORs a constant byte over a range, eight bytes at a time.
void ApplyMask(uint8_t* data, size_t length, uint8_t mask) {
  const uint64_t wide_mask = 0x0101010101010101ull * mask;
  size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    uint64_t word;
    std::memcpy(&word, data + i, sizeof word);
    word ^= wide_mask;
    std::memcpy(data + i, &word, sizeof word);
  }
  for (; i < length; ++i) {
    data[i] ^= mask;
  }
}

uint8_t MaskByte(const KeystreamState& state, uint32_t key) {
  return static_cast<uint8_t>((key ^ state.s1) & kMaskBits);
}

}  // namespace

void TransformHeader(uint8_t* header_bytes) {
  uint8_t key = kFirstHeaderKey;
  for (size_t i = 0; i < kEntryHeaderSize; ++i) {
    header_bytes[i] ^= key;
    key = static_cast<uint8_t>(key + i);
  }
}

KeystreamState StateFromSeeds(const uint8_t seeds[4]) {
  return KeystreamState{seeds[0], seeds[1], seeds[2], seeds[3]};
}

void TransformData(uint8_t* data, size_t length, KeystreamState& state, uint32_t key,
                   int32_t block_stream_length) {
  const size_t head = std::min(length, kBlockLength);
  ApplyKeystream(data, head, state, key);
  if (block_stream_length < 0 || static_cast<size_t>(block_stream_length) >= kBlockLength - 1) {
    ApplyKeystream(data + head, length - head, state, key);
    return;
  }
  const size_t stream_bytes = static_cast<size_t>(block_stream_length) + 1;
  const uint8_t mask = MaskByte(state, key);
  for (size_t block = kBlockLength; block < length; block += kBlockLength) {
    const size_t block_end = std::min(length, block + kBlockLength);
    const size_t stream_end = std::min(block_end, block + stream_bytes);
    ApplyKeystream(data + block, stream_end - block, state, key);
    ApplyMask(data + stream_end, block_end - stream_end, mask);
  }
}

void TransformDataLiteral(uint8_t* data, size_t length, KeystreamState& state, uint32_t key,
                          int32_t block_stream_length) {
  for (size_t i = 0; i < length; ++i) {
    const size_t j = i % kBlockLength;
    if (i >= kBlockLength && block_stream_length >= 0 &&
        j > static_cast<size_t>(block_stream_length)) {
      data[i] ^= static_cast<uint8_t>((key ^ state.s1) & kMaskBits);
    } else {
      data[i] ^= static_cast<uint8_t>(state.s0);
      state.s0 ^= state.s1 + state.s2;
      state.s2 += key ^ state.s3;
    }
  }
}

}  // namespace archive
