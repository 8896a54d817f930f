// Encoding of compressed picture blocks (the format is described in decoder.h).
//
// The encoder is how pictures come to be stored compressed in packages; the
// player only decodes. It is a greedy single-pass LZ77 encoder with a 4096-entry
// table of last positions keyed by a hash of three bytes: it takes the first
// usable match at each position and never looks for a better one. Its output is
// fixed byte for byte by that algorithm, so packages built anywhere are the same.
#pragma once

#include <cstdint>

namespace tiko {

// How far past `inputSize` the encoder may write. It checks its output position
// once per group of 16 tokens (and before each literal batch), so between two
// checks it can run past the input size by one literal-run header (9 bytes)
// plus 15 match tokens of up to 5 bytes each, minus the byte that the check
// leaves: 83 bytes. A block that it returns is always smaller than the input.
inline constexpr uint32_t kEncodeOutputSlack = 83;

// The size of the output area that EncodeBlock needs for an input of
// `inputSize` bytes. This is the contract: a smaller area may be overrun.
// (Inputs above 4 GiB - 84 bytes are not supported.)
constexpr uint32_t EncodeBlockOutputCapacity(uint32_t inputSize) { return inputSize + kEncodeOutputSlack; }

// Compresses input[0 .. size) into one block at `output`, which must have room
// for EncodeBlockOutputCapacity(size) bytes. Returns the block's size (also
// written into its first four bytes), which is always less than `size`, or 0
// when the input is empty or does not become smaller; after a 0 the output
// area holds nothing useful. Every block it returns decodes with DecodeBlock,
// given `size` as capacity, to exactly the input.
// The position table lives on the stack (16 KiB) of each call: the encoder
// allocates nothing and may run on any number of threads at once.
uint32_t EncodeBlock(const uint8_t* input, uint32_t size, uint8_t* output);

}  // namespace tiko
