// The two scrambling transforms. Each is its own inverse: the same call scrambles and unscrambles.
#pragma once

#include <cstddef>
#include <cstdint>

namespace archive {

// XORs each of the 272 header bytes with key[i] = (23 + i*(i-1)/2) mod 256.
void TransformHeader(uint8_t* header_bytes);

// The keystream state of one entry, loaded from the header's seed bytes when the header is read
// and carried over from chunk to chunk.
struct KeystreamState {
  uint32_t s0, s1, s2, s3;
};

KeystreamState StateFromSeeds(const uint8_t seeds[4]);

// Transforms one chunk in place. The position within the chunk starts at 0; `state` carries over
// to the next chunk. `key` is the archive key K, `block_stream_length` the value P: in each
// 1000-byte block after the first, block positions 0..P take the keystream and the rest a fixed
// mask; a negative P (or P >= 999) puts every byte on the keystream.
void TransformData(uint8_t* data, size_t length, KeystreamState& state, uint32_t key,
                   int32_t block_stream_length);

// The same transform, one byte at a time exactly as the rule is written. Kept as the reference
// that tests and benchmarks compare the real one against.
void TransformDataLiteral(uint8_t* data, size_t length, KeystreamState& state, uint32_t key,
                          int32_t block_stream_length);

}  // namespace archive
