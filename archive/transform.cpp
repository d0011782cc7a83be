#include "archive/transform.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "archive/entry_header.h"

namespace archive {
namespace {

constexpr size_t kBlockLength = 1000;
constexpr uint8_t kFirstHeaderKey = 23;
constexpr uint32_t kMaskBits = 0xEE;

// Sixteen bytes (or four words) handled as one value. GCC and Clang map these onto the vector
// registers every x86-64 has (SSE2), and onto plain word operations on a target without them, so
// the code stays portable and needs no -march flag. Vectors are only ever locals or passed by
// reference: passing them by value would differ between targets with and without SSE.
using Bytes16 = uint8_t __attribute__((vector_size(16)));
using Words4 = uint32_t __attribute__((vector_size(16)));
constexpr size_t kVector = sizeof(Bytes16);

// data[0..15] ^= with[0..15].
void Xor16(uint8_t* data, const uint8_t* with) {
  Bytes16 value;
  Bytes16 key;
  std::memcpy(&value, data, kVector);
  std::memcpy(&key, with, kVector);
  value ^= key;
  std::memcpy(data, &value, kVector);
}

// data[0..15] ^= mask.
void Xor16(uint8_t* data, const Bytes16& mask) {
  Bytes16 value;
  std::memcpy(&value, data, kVector);
  value ^= mask;
  std::memcpy(data, &value, kVector);
}

// data[i] ^= with[i] over `length` bytes; the two ranges do not overlap.
void XorBytes(uint8_t* data, const uint8_t* with, size_t length) {
  size_t i = 0;
  for (; i + 4 * kVector <= length; i += 4 * kVector) {
    Xor16(data + i, with + i);
    Xor16(data + i + kVector, with + i + kVector);
    Xor16(data + i + 2 * kVector, with + i + 2 * kVector);
    Xor16(data + i + 3 * kVector, with + i + 3 * kVector);
  }
  for (; i + kVector <= length; i += kVector) {
    Xor16(data + i, with + i);
  }
  for (; i < length; ++i) {
    data[i] ^= with[i];
  }
}

// XORs a constant byte over a range.
void XorConstant(uint8_t* data, size_t length, uint8_t mask) {
  Bytes16 wide_mask;
  std::memset(&wide_mask, mask, kVector);
  size_t i = 0;
  for (; i + 4 * kVector <= length; i += 4 * kVector) {
    Xor16(data + i, wide_mask);
    Xor16(data + i + kVector, wide_mask);
    Xor16(data + i + 2 * kVector, wide_mask);
    Xor16(data + i + 3 * kVector, wide_mask);
  }
  for (; i + kVector <= length; i += kVector) {
    Xor16(data + i, wide_mask);
  }
  for (; i < length; ++i) {
    data[i] ^= mask;
  }
}

// first ^ (first + step) ^ (first + 2 step) ^ ... over `count` terms, modulo 2^32: what the
// keystream does to S0 over `count` steps. Eight terms at a time in two vectors of four lanes.
uint32_t XorOfProgression(uint32_t first, uint32_t step, size_t count) {
  size_t k = 0;
  uint32_t result = 0;
  if (count >= 16) {
    Words4 low = {first, first + step, first + 2 * step, first + 3 * step};
    Words4 high = low + 4 * step;
    const Words4 stride = Words4{} + 8 * step;
    Words4 low_sum = {};
    Words4 high_sum = {};
    for (; k + 8 <= count; k += 8) {
      low_sum ^= low;
      high_sum ^= high;
      low += stride;
      high += stride;
    }
    const Words4 both = low_sum ^ high_sum;
    result = both[0] ^ both[1] ^ both[2] ^ both[3];
  }
  uint32_t term = first + static_cast<uint32_t>(k) * step;
  for (; k < count; ++k) {
    result ^= term;
    term += step;
  }
  return result;
}

// The keystream one byte at a time, straight on the state: for short chunks, where setting up the
// table below would cost more than it saves. S1 and K ^ S3 are constant for an entry, so S1 + S2
// is carried as one running sum.
class SerialKeystream {
 public:
  SerialKeystream(KeystreamState& state, uint32_t key)
      : state_(state), s0_(state.s0), sum_(state.s1 + state.s2), step_(key ^ state.s3) {}

  void Apply(uint8_t* data, size_t length) {
    for (size_t i = 0; i < length; ++i) {
      data[i] ^= static_cast<uint8_t>(s0_);
      s0_ ^= sum_;
      sum_ += step_;
    }
  }

  void Finish() {
    state_.s0 = s0_;
    state_.s2 = sum_ - state_.s1;
  }

 private:
  KeystreamState& state_;
  uint32_t s0_;
  uint32_t sum_;
  uint32_t step_;
};

// The keystream from a table. A keystream byte is the low byte of S0, and the low byte of S0 and
// of S1 + S2 after a step depend only on their low bytes and the low byte of K ^ S3 before it
// (XOR and addition carry nothing downwards). The low byte of the running sum returns to its
// start every 256 steps, and over those 256 steps the low bytes it XORs into S0 cancel (each
// value comes up an even number of times, or every value once when the step is odd). So the
// keystream repeats every 256 bytes: one table of 256 bytes, laid out twice so that any run of up
// to 256 bytes is one contiguous slice of it, serves a whole chunk. The full 32-bit state is
// brought forward once at the end, from the count of keystream bytes used.
class TableKeystream {
 public:
  static constexpr size_t kPeriod = 256;

  TableKeystream(KeystreamState& state, uint32_t key)
      : state_(state), s0_(state.s0), sum_(state.s1 + state.s2), step_(key ^ state.s3) {
    auto low = static_cast<uint8_t>(s0_);
    auto low_sum = static_cast<uint8_t>(sum_);
    const auto low_step = static_cast<uint8_t>(step_);
    for (size_t i = 0; i < kPeriod; ++i) {
      table_[i] = low;
      low ^= low_sum;
      low_sum = static_cast<uint8_t>(low_sum + low_step);
    }
    std::memcpy(table_.data() + kPeriod, table_.data(), kPeriod);
  }

  void Apply(uint8_t* data, size_t length) {
    used_ += length;
    while (length > 0) {
      const size_t run = std::min(length, kPeriod);
      XorBytes(data, table_.data() + offset_, run);
      offset_ = (offset_ + run) % kPeriod;
      data += run;
      length -= run;
    }
  }

  void Finish() {
    const auto steps = static_cast<uint32_t>(used_);
    state_.s0 = s0_ ^ XorOfProgression(sum_, step_, used_);
    state_.s2 = sum_ + steps * step_ - state_.s1;
  }

 private:
  KeystreamState& state_;
  uint32_t s0_;
  uint32_t sum_;
  uint32_t step_;
  size_t offset_ = 0;
  size_t used_ = 0;
  std::array<uint8_t, 2 * kPeriod> table_;
};

// Below this length a chunk takes the serial keystream.
constexpr size_t kTableThreshold = 512;

uint8_t MaskByte(const KeystreamState& state, uint32_t key) {
  return static_cast<uint8_t>((key ^ state.s1) & kMaskBits);
}

// Walks one chunk: the first block on the keystream, then in each later block the positions
// 0..P on the keystream and the rest under the mask.
template <typename Keystream>
void TransformChunk(uint8_t* data, size_t length, Keystream& stream, uint8_t mask,
                    int32_t block_stream_length) {
  if (block_stream_length < 0 || static_cast<size_t>(block_stream_length) >= kBlockLength - 1) {
    stream.Apply(data, length);
    return;
  }
  const size_t stream_bytes = static_cast<size_t>(block_stream_length) + 1;
  stream.Apply(data, std::min(length, kBlockLength));
  for (size_t block = kBlockLength; block < length; block += kBlockLength) {
    const size_t block_end = std::min(length, block + kBlockLength);
    const size_t stream_end = std::min(block_end, block + stream_bytes);
    stream.Apply(data + block, stream_end - block);
    XorConstant(data + stream_end, block_end - stream_end, mask);
  }
}

constexpr std::array<uint8_t, kEntryHeaderSize> HeaderKey() {
  std::array<uint8_t, kEntryHeaderSize> key{};
  uint8_t next = kFirstHeaderKey;
  for (size_t i = 0; i < kEntryHeaderSize; ++i) {
    key[i] = next;
    next = static_cast<uint8_t>(next + i);
  }
  return key;
}

constexpr std::array<uint8_t, kEntryHeaderSize> kHeaderKey = HeaderKey();

}  // namespace

void TransformHeader(uint8_t* header_bytes) {
  XorBytes(header_bytes, kHeaderKey.data(), kEntryHeaderSize);
}

KeystreamState StateFromSeeds(const uint8_t seeds[4]) {
  return KeystreamState{seeds[0], seeds[1], seeds[2], seeds[3]};
}

void TransformData(uint8_t* data, size_t length, KeystreamState& state, uint32_t key,
                   int32_t block_stream_length) {
  const uint8_t mask = MaskByte(state, key);
  if (length < kTableThreshold) {
    SerialKeystream stream(state, key);
    TransformChunk(data, length, stream, mask, block_stream_length);
    stream.Finish();
  } else {
    TableKeystream stream(state, key);
    TransformChunk(data, length, stream, mask, block_stream_length);
    stream.Finish();
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
