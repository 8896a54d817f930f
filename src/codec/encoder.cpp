#include "codec/encoder.h"

#include <bit>
#include <cstring>

#include "codec/decoder.h"

namespace tiko {
namespace {

constexpr uint32_t kTableBits = 12;
constexpr uint32_t kTableSize = 1u << kTableBits;  // 4096 entries
constexpr uint32_t kHashMultiplier = 0x9E5F;
constexpr uint32_t kHashBits = 16;
constexpr uint32_t kHashMask = (1u << kHashBits) - 1;

// Positions are stored plus one so that 0 can mean "empty".
constexpr uint32_t kEmpty = 0;

// The longest match the encoder writes. The format allows 273, but 271 keeps the
// tail zone (the last kMaxMatchLength bytes, where no match starts) out of
// reach of every comparison; the extra two bytes simply start the next token.
constexpr uint32_t kMaxEncodedMatch = kMaxMatchLength - 2;
// An 18-byte match would need the 3-byte long form; a 17-byte match in the
// 2-byte short form plus whatever follows is never worse.
constexpr uint32_t kCutMatchLength = kMaxShortMatchLength + 1;
// A far match costs 4 bytes at least; for 3 or 4 bytes the literals are as
// cheap, so far matches start at 5.
constexpr uint32_t kMinFarMatch = 5;

// Zones by distance from the input's end. In the main zone a whole group of 16
// tokens (at most 16 x 273 bytes of input) cannot reach the end, so the encoder
// checks its zone and its output only once per group there; from the near-end
// zone on it checks before every token; in the tail zone no match starts.
constexpr uint32_t kMainZoneMargin = kGroupTokens * kMaxMatchLength;  // 4368
constexpr uint32_t kTailZoneSize = kMaxMatchLength;                   // 273

struct EncoderState {
  const uint8_t* input;
  uint32_t size;
  uint8_t* output;
  uint32_t mainEnd;    // first position after the main zone
  uint32_t tailStart;  // first position of the tail zone
  uint32_t out;        // output position
  uint32_t slot;       // where the open group's control word goes
  uint32_t control;    // flags of the open group, the newest in bit 15
  uint32_t tokens;     // tokens in the open group
  uint32_t budget;     // tokens left before the next zone and output check
  uint32_t pending;    // literal bytes passed over, ending at the current position
};

uint32_t HashIndex(const uint8_t* p) {
  const uint32_t v = static_cast<uint32_t>(p[0]) << 8 ^ static_cast<uint32_t>(p[1]) << 4 ^ p[2];
  return ((v * kHashMultiplier) & kHashMask) >> (kHashBits - kTableBits);
}

void WriteLe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void WriteLe32(uint8_t* p, uint32_t v) {
  WriteLe16(p, v);
  WriteLe16(p + 2, v >> 16);
}

// The flags enter at the top, so after 16 tokens the first one is in bit 0.
void AddToken(EncoderState& s, uint32_t flag) {
  s.control = s.control >> 1 | flag << (kGroupTokens - 1);
  ++s.tokens;
}

void CloseGroup(EncoderState& s) {
  WriteLe16(s.output + s.slot, s.control);
  s.slot = s.out;
  s.out += kControlWordSize;
  s.control = 0;
  s.tokens = 0;
}

uint32_t GroupBudget(const EncoderState& s, uint32_t p) { return p < s.mainEnd ? kGroupTokens - s.tokens : 1; }

// Length of the match between the bytes at p and at candidate, known to agree
// in their first three bytes, compared up to `limit` bytes.
uint32_t ExtendMatch(const uint8_t* p, const uint8_t* candidate, uint32_t length, uint32_t limit) {
  constexpr uint32_t kWord = sizeof(uint64_t);
  while (length + kWord <= limit) {
    uint64_t a;
    uint64_t b;
    std::memcpy(&a, p + length, kWord);
    std::memcpy(&b, candidate + length, kWord);
    const uint64_t diff = a ^ b;
    if (diff != 0) {
      // The first differing byte in memory order is the lowest one on a
      // little-endian machine and the highest on a big-endian one.
      const uint32_t same = std::endian::native == std::endian::little ? std::countr_zero(diff) / 8
                                                                          : std::countl_zero(diff) / 8;
      return length + same;
    }
    length += kWord;
  }
  while (length < limit && p[length] == candidate[length]) ++length;
  return length;
}

// Writes the `count` bytes before position p as literal tokens (16 or fewer)
// or as one literal run in its shortest form. False when the block would not
// end up smaller than the input.
bool WriteLiterals(EncoderState& s, uint32_t p, uint32_t count) {
  if (static_cast<uint64_t>(s.out) + count >= s.size) return false;
  s.pending = 0;
  const uint8_t* bytes = s.input + p - count;
  if (count <= kGroupTokens) {
    for (uint32_t i = 0; i < count; ++i) {
      s.output[s.out++] = bytes[i];
      AddToken(s, 0);
      if (s.tokens == kGroupTokens) CloseGroup(s);
    }
    s.budget = GroupBudget(s, p);
    return true;
  }
  uint8_t* o = s.output + s.out;
  if (count <= kMaxShortRun) {
    *o++ = static_cast<uint8_t>(count - kShortRunBias);
    *o++ = 0;
  } else if (count <= kMaxByteRun) {
    *o++ = 0;
    *o++ = 0;
    *o++ = static_cast<uint8_t>(count - kByteRunBias);
  } else if (count <= kMaxWordRun) {
    *o++ = 0;
    *o++ = 0;
    *o++ = 0;
    WriteLe16(o, count);
    o += 2;
  } else {
    std::memset(o, 0, 5);
    o += 5;
    WriteLe32(o, count);
    o += 4;
  }
  std::memcpy(o, bytes, count);
  s.out = static_cast<uint32_t>(o + count - s.output);
  AddToken(s, 1);
  if (--s.budget == 0) {
    if (s.tokens == kGroupTokens) CloseGroup(s);
    s.budget = GroupBudget(s, p);
  }
  return true;
}

void WriteMatch(EncoderState& s, uint32_t distance, uint32_t length) {
  uint8_t* o = s.output + s.out;
  const bool far = distance >= kFarDistanceField;
  const uint32_t head = far ? kFarDistanceField : distance;
  const uint32_t nibble = length <= kMaxShortMatchLength ? length - kShortMatchBias : 0;
  *o++ = static_cast<uint8_t>((head >> 8) << 4 | nibble);
  *o++ = static_cast<uint8_t>(head);
  if (far) {
    WriteLe16(o, distance);
    o += 2;
  }
  if (nibble == 0) *o++ = static_cast<uint8_t>(length - kLongMatchBias);
  s.out = static_cast<uint32_t>(o - s.output);
  AddToken(s, 1);
  --s.budget;
}

// Closes the block: the open control word is shifted down so that its first
// token is in bit 0; a slot that no token follows is dropped, so a block never
// ends with a control word.
uint32_t Finish(EncoderState& s) {
  if (s.tokens == 0) {
    s.out -= kControlWordSize;
  } else {
    WriteLe16(s.output + s.slot, s.control >> (kGroupTokens - s.tokens));
  }
  if (s.out >= s.size) return 0;
  WriteLe32(s.output, s.out);
  return s.out;
}

}  // namespace

uint32_t EncodeBlock(const uint8_t* input, uint32_t size, uint8_t* output) {
  // Per call, so that calls on different threads share nothing.
  uint32_t table[kTableSize];
  std::memset(table, 0, sizeof table);
  static_assert(kEmpty == 0, "the table is cleared with zero bytes");

  EncoderState s{};
  s.input = input;
  s.size = size;
  s.output = output;
  s.mainEnd = size > kMainZoneMargin ? size - kMainZoneMargin : 0;
  s.tailStart = size > kTailZoneSize ? size - kTailZoneSize : 0;
  s.slot = kBlockHeaderSize;
  s.out = kBlockHeaderSize + kControlWordSize;

  uint32_t p = 0;
  for (;;) {
    // Group check: once per group in the main zone, before every token after it.
    if (s.out >= size) return 0;
    if (p < s.mainEnd) {
      s.budget = kGroupTokens;
    } else {
      s.budget = 1;
      if (p >= s.tailStart) {
        if (p == size) return 0;
        if (!WriteLiterals(s, size, s.pending + (size - p))) return 0;
        return Finish(s);
      }
    }

    // Search and encode tokens until the budget is spent.
    for (;;) {
      const uint32_t index = HashIndex(input + p);
      const uint32_t entry = table[index];
      table[index] = p + 1;
      uint32_t distance = 0;
      uint32_t length = 0;
      if (entry != kEmpty) {
        const uint32_t candidate = entry - 1;
        const uint32_t d = p - candidate;
        if (d <= kMaxDistance && std::memcmp(input + candidate, input + p, kMinMatchLength) == 0) {
          if (s.pending != 0 && !WriteLiterals(s, p, s.pending)) return 0;
          length = ExtendMatch(input + p, input + candidate, kMinMatchLength, kMaxShortMatchLength);
          if (length == kMaxShortMatchLength) length = ExtendMatch(input + p, input + candidate, length, kMaxEncodedMatch);
          if (length == kCutMatchLength) length = kMaxShortMatchLength;
          distance = d >= kFarDistanceField && length < kMinFarMatch ? 0 : d;
        }
      }

      if (distance == 0) {
        // No usable match: the byte waits to be written with its neighbours.
        ++s.pending;
        ++p;
        if (p < s.mainEnd) continue;
        s.budget = 1;
        if (p < s.tailStart) continue;
        if (!WriteLiterals(s, size, s.pending + (size - p))) return 0;
        return Finish(s);
      }

      // Positions inside the match are not entered into the table.
      WriteMatch(s, distance, length);
      p += length;
      if (s.budget > 0) continue;
      if (s.tokens == kGroupTokens) CloseGroup(s);
      break;
    }
  }
}

}  // namespace tiko
