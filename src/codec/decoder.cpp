#include "codec/decoder.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace tiko {
namespace {

constexpr uint32_t kNibbleMask = 0x0F;
constexpr uint32_t kFieldShift = 4;

uint32_t ReadLe16(const uint8_t* p) { return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8; }

uint32_t ReadLe32(const uint8_t* p) { return ReadLe16(p) | ReadLe16(p + 2) << 16; }

// Bytes from `from` up to `to`; blocks and outputs are at most 4 GiB - 1 long.
uint32_t Span(const uint8_t* from, const uint8_t* to) { return static_cast<uint32_t>(to - from); }

// Copies a match of `length` bytes from `distance` bytes back. When the source
// overlaps the destination the last `distance` bytes repeat; the copy grows the
// repeated stretch by whole periods so that every memcpy is non-overlapping.
void CopyMatch(uint8_t* dst, uint32_t distance, uint32_t length) {
  const uint8_t* src = dst - distance;
  if (distance >= length) {
    std::memcpy(dst, src, length);
    return;
  }
  if (distance == 1) {
    std::memset(dst, *src, length);
    return;
  }
  // [src, dst + done) repeats with period `distance`, and `done` stays a
  // multiple of it until the last chunk, so copying from src continues the
  // pattern.
  uint32_t done = 0;
  while (done < length) {
    const uint32_t chunk = std::min(distance + done, length - done);
    std::memcpy(dst + done, src, chunk);
    done += chunk;
  }
}

}  // namespace

uint32_t DecodeBlockRef(const uint8_t* block, uint32_t blockSize, uint8_t* output, uint32_t capacity) {
  if (blockSize < kBlockHeaderSize) return 0;
  const uint32_t end = ReadLe32(block);
  if (end > blockSize) return 0;

  uint32_t in = kBlockHeaderSize;
  uint32_t out = 0;
  uint32_t control = 0;
  uint32_t token = 0;
  while (in < end) {
    if (token == 0 || token == kGroupTokens) {
      if (end - in < kControlWordSize) return 0;
      control = ReadLe16(block + in);
      in += kControlWordSize;
      token = 0;
      if (in == end) return 0;  // a control word must announce at least one token
    }
    if (((control >> token) & 1) == 0) {
      if (out == capacity) return 0;
      output[out++] = block[in++];
    } else {
      if (end - in < 2) return 0;
      const uint32_t b0 = block[in];
      const uint32_t b1 = block[in + 1];
      in += 2;
      const uint32_t field = (b0 >> kFieldShift) << 8 | b1;
      const uint32_t nibble = b0 & kNibbleMask;
      if (field != 0) {
        uint32_t distance = field;
        if (field == kFarDistanceField) {
          if (end - in < 2) return 0;
          distance = ReadLe16(block + in);
          in += 2;
          if (distance == 0) return 0;
        }
        uint32_t length = nibble + kShortMatchBias;
        if (nibble == 0) {
          if (in == end) return 0;
          length = block[in++] + kLongMatchBias;
        }
        if (distance > out) return 0;
        if (length > capacity - out) return 0;
        for (uint32_t i = 0; i < length; ++i) {
          output[out] = output[out - distance];
          ++out;
        }
      } else {
        uint32_t length = nibble + kShortRunBias;
        if (nibble == 0) {
          if (in == end) return 0;
          const uint32_t x = block[in++];
          length = x + kByteRunBias;
          if (x == 0) {
            if (end - in < 2) return 0;
            length = ReadLe16(block + in);
            in += 2;
            if (length == 0) {
              if (end - in < 4) return 0;
              length = ReadLe32(block + in);
              in += 4;
              if (length == 0) return 0;
            }
          }
        }
        if (length > end - in) return 0;
        if (length > capacity - out) return 0;
        for (uint32_t i = 0; i < length; ++i) output[out++] = block[in++];
      }
    }
    ++token;
  }
  return out;
}

// Same grammar and checks as DecodeBlockRef; the speed comes from copying
// stretches of literals, runs and matches with memcpy/memset instead of byte by
// byte. Every check is made before anything of the token is written, so the
// bytes written stay inside output[0 .. capacity).
uint32_t DecodeBlock(const uint8_t* block, uint32_t blockSize, uint8_t* output, uint32_t capacity) {
  if (blockSize < kBlockHeaderSize) return 0;
  const uint32_t end = ReadLe32(block);
  if (end > blockSize) return 0;

  const uint8_t* ip = block + kBlockHeaderSize;
  const uint8_t* const iend = block + std::max(end, kBlockHeaderSize);
  uint8_t* op = output;
  uint8_t* const oend = output + capacity;
  while (ip < iend) {
    if (Span(ip, iend) < kControlWordSize) return 0;
    // Bit kGroupTokens stands for "end of group", so that counting trailing
    // zeros never runs past the group's 16 tokens.
    uint32_t control = ReadLe16(ip) | 1u << kGroupTokens;
    ip += kControlWordSize;
    if (ip == iend) return 0;
    uint32_t token = 0;
    while (token < kGroupTokens && ip < iend) {
      if ((control & 1) == 0) {
        // A stretch of literal tokens: as many as the control word says, cut at
        // the end of the block (the block may end inside its last group).
        const uint32_t count = std::min<uint32_t>(std::countr_zero(control), Span(ip, iend));
        if (count > Span(op, oend)) return 0;
        std::memcpy(op, ip, count);
        op += count;
        ip += count;
        token += count;
        control >>= count;
        continue;
      }
      if (Span(ip, iend) < 2) return 0;
      const uint32_t b0 = ip[0];
      const uint32_t b1 = ip[1];
      ip += 2;
      const uint32_t field = (b0 >> kFieldShift) << 8 | b1;
      const uint32_t nibble = b0 & kNibbleMask;
      if (field != 0) {
        uint32_t distance = field;
        if (field == kFarDistanceField) {
          if (Span(ip, iend) < 2) return 0;
          distance = ReadLe16(ip);
          ip += 2;
          if (distance == 0) return 0;
        }
        uint32_t length = nibble + kShortMatchBias;
        if (nibble == 0) {
          if (ip == iend) return 0;
          length = *ip++ + kLongMatchBias;
        }
        if (distance > Span(output, op)) return 0;
        if (length > Span(op, oend)) return 0;
        CopyMatch(op, distance, length);
        op += length;
      } else {
        uint32_t length = nibble + kShortRunBias;
        if (nibble == 0) {
          if (ip == iend) return 0;
          const uint32_t x = *ip++;
          length = x + kByteRunBias;
          if (x == 0) {
            if (Span(ip, iend) < 2) return 0;
            length = ReadLe16(ip);
            ip += 2;
            if (length == 0) {
              if (Span(ip, iend) < 4) return 0;
              length = ReadLe32(ip);
              ip += 4;
              if (length == 0) return 0;
            }
          }
        }
        if (length > Span(ip, iend)) return 0;
        if (length > Span(op, oend)) return 0;
        std::memcpy(op, ip, length);
        op += length;
        ip += length;
      }
      ++token;
      control >>= 1;
    }
  }
  return Span(output, op);
}

}  // namespace tiko
