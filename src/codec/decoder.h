// Decoding of compressed picture blocks.
//
// A block is a 32-bit little-endian total size (the four header bytes
// included) followed by groups: a 16-bit little-endian control word and up to
// 16 tokens, one control-word bit per token, bit 0 first. A 0 bit is one
// literal byte; a 1 bit is a match (a copy from the bytes already produced) or
// a run of literal bytes stored as they are. Every group but the last has 16
// tokens, and a block never ends with a control word.
//
// Blocks come from package files, so they are untrusted: the decoders read only
// block[0 .. min(total size, blockSize)) and write only output[0 .. capacity),
// finish in one pass, and refuse anything malformed with 0.
#pragma once

#include <cstdint>

namespace tiko {

// The block format, shared by the decoders and the encoder.
inline constexpr uint32_t kBlockHeaderSize = 4;        // total size, 32-bit LE
inline constexpr uint32_t kControlWordSize = 2;        // 16-bit LE
inline constexpr uint32_t kGroupTokens = 16;           // one control-word bit each
// A flagged token starts with b0, b1: a 12-bit field (b0 >> 4) * 256 + b1 and a
// 4-bit field b0 & 15. Field 0 marks a literal run; the all-ones field marks a
// far match whose distance follows as 16 bits.
inline constexpr uint32_t kFarDistanceField = 0xFFF;   // 4095
inline constexpr uint32_t kMaxNearDistance = kFarDistanceField - 1;
inline constexpr uint32_t kMaxDistance = 0xFFFF;
inline constexpr uint32_t kShortMatchBias = 2;         // nibble 1..15: 3..17 bytes
inline constexpr uint32_t kLongMatchBias = 18;         // length byte: 18..273 bytes
inline constexpr uint32_t kMinMatchLength = 3;
inline constexpr uint32_t kMaxShortMatchLength = 15 + kShortMatchBias;  // 17
inline constexpr uint32_t kMaxMatchLength = 255 + kLongMatchBias;       // 273
inline constexpr uint32_t kShortRunBias = 16;          // nibble 1..15: 17..31 bytes
inline constexpr uint32_t kByteRunBias = 31;           // length byte: 32..286 bytes
inline constexpr uint32_t kMinShortRun = 1 + kShortRunBias;             // 17
inline constexpr uint32_t kMaxShortRun = 15 + kShortRunBias;            // 31
inline constexpr uint32_t kMaxByteRun = 255 + kByteRunBias;             // 286
inline constexpr uint32_t kMaxWordRun = 0xFFFF;

// No block expands by more than this factor: the densest token, a 3-byte match,
// yields at most 273 bytes. Callers use it to reject a stored size that its
// block cannot possibly produce.
inline constexpr uint32_t kBlockMaxExpansion = 91;

// The most bytes that a block of `blockSize` bytes can decode to.
constexpr uint64_t DecodeBlockMaxOutput(uint32_t blockSize) {
  return static_cast<uint64_t>(blockSize) * kBlockMaxExpansion;
}

// Decodes the block at `block`, of which `blockSize` bytes are readable, into
// `output`, which has room for `capacity` bytes. Returns the number of bytes
// produced, or 0 when the block is malformed, its total size exceeds
// `blockSize`, it produces nothing, or its output does not fit in `capacity`.
// On success exactly output[0 .. result) is written. A short result (fewer
// bytes than the caller expected) is not an error here; the caller decides.
// After a failure the output area holds nothing useful.
// No allocation, no state: safe on any number of threads at once.
uint32_t DecodeBlock(const uint8_t* block, uint32_t blockSize, uint8_t* output, uint32_t capacity);

// The plain decoder: one token at a time, every byte copied on its own. It is
// the yardstick for DecodeBlock, which must give the same result and the same
// bytes for every input; tests and fuzzing compare the two.
uint32_t DecodeBlockRef(const uint8_t* block, uint32_t blockSize, uint8_t* output, uint32_t capacity);

}  // namespace tiko
