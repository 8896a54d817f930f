// Block encoder: exact output on known inputs, the token choices that packages
// depend on, the output-area contract, and round trips through the decoders.
#include "codec/encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "codec/decoder.h"

namespace tiko {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kCanary = 0xA5;
constexpr uint32_t kCanaryBytes = 64;

struct Encoded {
  uint32_t result;
  Bytes block;  // block[0 .. result)
  bool canariesIntact;
};

// Encodes into exactly the documented output area, followed by canary bytes.
Encoded Encode(const Bytes& input) {
  const uint32_t size = static_cast<uint32_t>(input.size());
  const uint32_t capacity = EncodeBlockOutputCapacity(size);
  Bytes area(capacity + kCanaryBytes, kCanary);
  const uint32_t result = EncodeBlock(input.data(), size, area.data());
  Encoded e{result, Bytes(area.begin(), area.begin() + result), true};
  for (size_t i = capacity; i < area.size(); ++i) e.canariesIntact &= area[i] == kCanary;
  return e;
}

Bytes Hex(const std::string& text) {
  Bytes out;
  for (size_t i = 0; i + 1 < text.size();) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    out.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  return out;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The tokens of a block as a list, to state what the encoder chose without
// spelling out every byte. Parsing stops at the first malformed token.
struct Token {
  enum Kind { kLiteral, kMatch, kRun } kind;
  uint32_t offset;  // output offset of the token's first byte
  uint32_t distance;
  uint32_t length;
  uint32_t blockOffset;  // where the token's bytes start in the block
  uint32_t encodedSize;  // bytes of the token in the block (a run's data included)
};

struct Parsed {
  std::vector<Token> tokens;
  uint32_t controlWords = 0;
  bool complete = false;  // every byte of the block was consumed by tokens
};

Parsed ParseTokens(const Bytes& block) {
  Parsed parsed;
  size_t in = kBlockHeaderSize;
  uint32_t out = 0;
  uint32_t control = 0;
  uint32_t k = kGroupTokens;
  auto le16 = [&](size_t at) { return static_cast<uint32_t>(block[at] | block[at + 1] << 8); };
  while (in < block.size()) {
    if (k == kGroupTokens) {
      if (in + 2 > block.size()) return parsed;
      control = le16(in);
      in += 2;
      k = 0;
      ++parsed.controlWords;
      if (in == block.size()) return parsed;
    }
    const size_t start = in;
    Token t{Token::kLiteral, out, 0, 1, static_cast<uint32_t>(in), 0};
    if ((control >> k & 1) == 0) {
      ++in;
    } else {
      if (in + 2 > block.size()) return parsed;
      const uint32_t b0 = block[in];
      const uint32_t field = (b0 >> 4) << 8 | block[in + 1];
      const uint32_t nibble = b0 & 15;
      in += 2;
      if (field != 0) {
        t.kind = Token::kMatch;
        t.distance = field;
        if (field == 0xFFF) {
          if (in + 2 > block.size()) return parsed;
          t.distance = le16(in);
          in += 2;
        }
        t.length = nibble + 2;
        if (nibble == 0) {
          if (in >= block.size()) return parsed;
          t.length = block[in++] + 18u;
        }
      } else {
        t.kind = Token::kRun;
        t.length = nibble + 16;
        if (nibble == 0) {
          if (in >= block.size()) return parsed;
          t.length = block[in++] + 31u;
          if (t.length == 31) {
            if (in + 2 > block.size()) return parsed;
            t.length = le16(in);
            in += 2;
            if (t.length == 0) {
              if (in + 4 > block.size()) return parsed;
              t.length = le16(in) | le16(in + 2) << 16;
              in += 4;
            }
          }
        }
        in += t.length;
        if (in > block.size()) return parsed;
      }
    }
    t.encodedSize = static_cast<uint32_t>(in - start);
    parsed.tokens.push_back(t);
    out += t.length;
    ++k;
  }
  parsed.complete = true;
  return parsed;
}

// The token that produces output byte `offset`.
const Token* TokenAt(const Parsed& parsed, uint32_t offset) {
  for (const Token& t : parsed.tokens) {
    if (offset >= t.offset && offset < t.offset + t.length) return &t;
  }
  return nullptr;
}

// The tokens of the block `input` encodes to (kept in `block` when asked);
// an encoding that fails leaves them incomplete.
Parsed EncodeAndParse(const Bytes& input, Bytes* block = nullptr) {
  const Encoded e = Encode(input);
  EXPECT_NE(e.result, 0u);
  if (block != nullptr) *block = e.block;
  if (e.result == 0) return Parsed{};
  return ParseTokens(e.block);
}

// ---------------------------------------------------------------------------
// Known blocks.

TEST(EncoderTest, ConstantBytes) {
  const Encoded e = Encode(Bytes(100000, 0x07));
  ASSERT_EQ(e.result, 1431u);
  const Bytes prefix = Hex("97 05 00 00 FE FF 07 00 01 FD 10 0F FD 10 0F FD");
  EXPECT_EQ(Bytes(e.block.begin(), e.block.begin() + prefix.size()), prefix);
  EXPECT_TRUE(e.canariesIntact);
  // A literal, one match at distance 1, then matches at distance 271 (271
  // bytes back is the last position entered into the table), all of 271 bytes,
  // until the tail.
  const Parsed parsed = ParseTokens(e.block);
  ASSERT_TRUE(parsed.complete);
  for (size_t i = 2; i < parsed.tokens.size() && parsed.tokens[i].offset < 100000 - 273; ++i) {
    EXPECT_EQ(parsed.tokens[i].kind, Token::kMatch);
    EXPECT_EQ(parsed.tokens[i].distance, 271u);
    EXPECT_EQ(parsed.tokens[i].length, 271u);
  }
}

TEST(EncoderTest, RepeatedAbc) {
  Bytes input;
  for (int i = 0; i < 400; ++i) input.insert(input.end(), {0x61, 0x62, 0x63});
  const Encoded e = Encode(input);
  Bytes expected = Hex("89 00 00 00 F8 00 61 62 63 00 03 FD 10 11 FD 20 1F FD 30 2D FD 00 00 52");
  expected.insert(expected.end(), input.end() - 113, input.end());
  ASSERT_EQ(e.result, 137u);
  EXPECT_EQ(e.block, expected);
}

TEST(EncoderTest, EighteenByteRepeatIsCutToSeventeen) {
  // Eighteen distinct bytes, the same again, then zeros: the second copy
  // matches for 18 bytes, which is written as 17 plus whatever the search
  // finds at the 18th (here it starts a stretch of literals).
  Bytes first(18);
  for (uint32_t i = 0; i < 18; ++i) first[i] = static_cast<uint8_t>(i + 1);
  const Bytes input = Concat(Concat(first, first), Bytes(600, 0));
  const Encoded e = Encode(input);
  Bytes expected = Hex("60 00 00 00 73 00 02 00");
  expected = Concat(expected, first);
  expected = Concat(expected, Hex("0F 12 12 00 00 01 FD 10 0F FD 00 00 1A"));
  expected = Concat(expected, Bytes(57, 0));
  EXPECT_EQ(e.block, expected);
}

// A 3-, 4- or 5-byte repeat `gap` bytes after its first copy, in a stretch of
// zeros that the encoder covers with matches, so the repeat is searched for at
// exactly `gap`.
Bytes ShortRepeatInput(uint32_t gap, uint32_t repeat) {
  const Bytes pattern = {0x41, 0x42, 0x43, 0x44, 0x45};
  Bytes input(gap, 0);
  std::copy(pattern.begin(), pattern.end(), input.begin());
  input.insert(input.end(), pattern.begin(), pattern.begin() + repeat);
  input.push_back(0x99);  // ends the repeat
  input.insert(input.end(), 1000, 0);
  return input;
}

TEST(EncoderTest, ShortRepeatsFarBackAreLiterals) {
  struct Case {
    uint32_t gap;
    uint32_t repeat;
    bool match;        // written as a match
    Bytes tokenBytes;  // the match token, if so
  };
  const Case cases[] = {
      {4094, 3, true, Hex("F1 FE")},         // near form reaches 4094
      {4095, 3, false, {}},                  // far: 4 bytes for 3 is no gain
      {4095, 4, false, {}},                  // far: 4 bytes for 4 is no gain
      {4095, 5, true, Hex("F3 FF FF 0F")},   // far short match
      {20000, 5, true, Hex("F3 FF 20 4E")},  // far short match, distance 20000
      {20000, 4, false, {}},
      {65535, 5, true, Hex("F3 FF FF FF")},  // the farthest distance there is
      {65536, 5, false, {}},                 // beyond the window
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "gap " << c.gap << " repeat " << c.repeat);
    const Bytes input = ShortRepeatInput(c.gap, c.repeat);
    Bytes block;
    const Parsed parsed = EncodeAndParse(input, &block);
    ASSERT_TRUE(parsed.complete);
    const Token* at = TokenAt(parsed, c.gap);
    ASSERT_NE(at, nullptr);
    if (c.match) {
      ASSERT_EQ(at->kind, Token::kMatch);
      EXPECT_EQ(at->offset, c.gap);
      EXPECT_EQ(at->distance, c.gap);
      EXPECT_EQ(at->length, c.repeat);
      ASSERT_EQ(at->encodedSize, c.tokenBytes.size());
      EXPECT_EQ(Bytes(block.begin() + at->blockOffset, block.begin() + at->blockOffset + at->encodedSize),
                c.tokenBytes);
    } else {
      EXPECT_NE(at->kind, Token::kMatch);
      for (const Token& t : parsed.tokens) EXPECT_FALSE(t.kind == Token::kMatch && t.distance >= 4095);
    }
    Bytes out(input.size());
    EXPECT_EQ(DecodeBlock(block.data(), static_cast<uint32_t>(block.size()), out.data(), static_cast<uint32_t>(out.size())), input.size());
    EXPECT_EQ(out, input);
  }
}

// Bytes in which no 3-byte sequence occurs twice, so the encoder finds no
// match anywhere in them: the start of a de Bruijn sequence of order 3 over all
// byte values, built by always appending the largest byte that makes a new
// triple.
Bytes UniqueTriples(size_t size) {
  std::vector<bool> seen(1u << 24, false);
  Bytes out = {0, 0};
  while (out.size() < size) {
    const uint32_t prefix = static_cast<uint32_t>(out[out.size() - 2]) << 16 | out[out.size() - 1] << 8;
    uint32_t next = 255;
    while (next > 0 && seen[prefix | next]) --next;
    seen[prefix | next] = true;
    out.push_back(static_cast<uint8_t>(next));
  }
  out.resize(size);
  return out;
}

TEST(EncoderTest, LiteralBatchesUseTheShortestForm) {
  // `length` fresh bytes, written as one batch when the first match is found:
  // the fresh bytes are length - 1 match-free bytes and the first byte of a
  // constant stretch (whose second byte is the first match, at distance 1).
  struct Case {
    uint32_t length;
    Bytes header;  // empty: written as literal tokens
  };
  const Case cases[] = {
      {16, {}},
      {17, Hex("01 00")},
      {31, Hex("0F 00")},
      {32, Hex("00 00 01")},
      {286, Hex("00 00 FF")},
      {287, Hex("00 00 00 1F 01")},
      {65535, Hex("00 00 00 FF FF")},
      {65536, Hex("00 00 00 00 00 00 00 01 00")},
  };
  const Bytes fresh = UniqueTriples(65536);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "batch of " << c.length);
    Bytes input(fresh.begin(), fresh.begin() + (c.length - 1));
    // A constant byte that makes no triple seen before, so the constant
    // stretch cannot match into the fresh bytes.
    std::set<uint32_t> seen;
    for (size_t i = 0; i + 2 < input.size(); ++i) seen.insert(input[i] << 16 | input[i + 1] << 8 | input[i + 2]);
    const uint32_t a = input[input.size() - 2], b = input.back();
    uint32_t value = 0;
    while (seen.count(value * 0x10101u) || seen.count(a << 16 | b << 8 | value) || seen.count(b << 16 | value * 0x101u)) {
      ++value;
    }
    ASSERT_LT(value, 256u);
    input.insert(input.end(), 3000, static_cast<uint8_t>(value));

    Bytes block;
    const Parsed parsed = EncodeAndParse(input, &block);
    ASSERT_TRUE(parsed.complete);
    const Token* match = TokenAt(parsed, c.length);
    ASSERT_NE(match, nullptr);
    EXPECT_EQ(match->kind, Token::kMatch);
    EXPECT_EQ(match->offset, c.length);
    EXPECT_EQ(match->distance, 1u);
    if (c.header.empty()) {
      for (uint32_t i = 0; i < c.length; ++i) ASSERT_EQ(TokenAt(parsed, i)->kind, Token::kLiteral) << i;
    } else {
      const Token& run = parsed.tokens[0];
      ASSERT_EQ(run.kind, Token::kRun);
      EXPECT_EQ(run.length, c.length);
      EXPECT_EQ(Bytes(block.begin() + run.blockOffset, block.begin() + run.blockOffset + c.header.size()), c.header);
    }
  }
}

TEST(EncoderTest, NoMatchStartsInTheLast273Bytes) {
  // 600 match-free bytes, then their last three repeated: the repeat is found
  // only if it starts before the last 273 bytes of the input.
  const Bytes fresh = UniqueTriples(600);
  for (uint32_t repeated : {274u, 273u}) {
    SCOPED_TRACE(testing::Message() << "repeat of " << repeated);
    Bytes input = fresh;
    for (uint32_t i = 0; i < repeated; ++i) input.push_back(input[input.size() - 3]);
    const Encoded e = Encode(input);
    if (repeated == 273) {
      EXPECT_EQ(e.result, 0u);  // nothing but literals
      continue;
    }
    ASSERT_NE(e.result, 0u);
    const Parsed parsed = ParseTokens(e.block);
    ASSERT_TRUE(parsed.complete);
    const Token* match = TokenAt(parsed, 600);
    ASSERT_NE(match, nullptr);
    EXPECT_EQ(match->kind, Token::kMatch);
    EXPECT_EQ(match->offset, 600u);
    EXPECT_EQ(match->distance, 3u);
    EXPECT_EQ(match->length, 271u);  // the longest the encoder writes
  }
}

TEST(EncoderTest, InputsOfAtMost273BytesGiveZero) {
  // Even the most compressible content: no match may start in the last 273
  // bytes, and literals never make a block smaller than its input.
  for (uint32_t size = 0; size <= 273; ++size) {
    Bytes constant(size, 0x33);
    Bytes random(size);
    std::mt19937 rng(size);
    for (auto& b : random) b = static_cast<uint8_t>(rng());
    for (const Bytes* input : {&constant, &random}) {
      const Encoded e = Encode(*input);
      ASSERT_EQ(e.result, 0u) << "size " << size;
      ASSERT_TRUE(e.canariesIntact) << "size " << size;
    }
  }
}

TEST(EncoderTest, NoBlockEndsWithAnEmptyControlWordSlot) {
  // Constant inputs of growing size end with tail groups of every length; the
  // ones whose last group closes exactly at the last token are the case.
  int closedExactly = 0;
  for (uint32_t size = 300; size < 6000; ++size) {
    const Encoded e = Encode(Bytes(size, 0xC4));
    ASSERT_NE(e.result, 0u);
    const Parsed parsed = ParseTokens(e.block);
    ASSERT_TRUE(parsed.complete) << "size " << size;
    const uint32_t groups = static_cast<uint32_t>((parsed.tokens.size() + kGroupTokens - 1) / kGroupTokens);
    ASSERT_EQ(parsed.controlWords, groups) << "size " << size;
    if (parsed.tokens.size() % kGroupTokens == 0) ++closedExactly;
  }
  EXPECT_GT(closedExactly, 0);
}

TEST(EncoderTest, HeaderHoldsTheReturnedSize) {
  const Encoded e = Encode(Bytes(5000, 1));
  ASSERT_GE(e.result, kBlockHeaderSize);
  EXPECT_EQ(e.block[0] | e.block[1] << 8 | e.block[2] << 16 | e.block[3] << 24, static_cast<int>(e.result));
}

// ---------------------------------------------------------------------------
// Round trips.

enum class Content { kRandom, kConstant, kRamp, kPicture, kText, kFarRepeats, kExpanding };

const char* ContentName(Content c) {
  switch (c) {
    case Content::kRandom: return "random";
    case Content::kConstant: return "constant";
    case Content::kRamp: return "ramp";
    case Content::kPicture: return "picture";
    case Content::kText: return "text";
    case Content::kFarRepeats: return "far repeats";
    case Content::kExpanding: return "expanding";
  }
  return "?";
}

// A BGR24 sprite followed by its alpha plane: filled discs with colour
// gradients and soft edges on a transparent black background, cut to `size`.
Bytes Picture(size_t size, uint32_t seed) {
  const int width = 173;
  const int height = static_cast<int>(size / (width * 4) + 1);
  std::mt19937 rng(seed);
  struct Disc {
    int x, y, r;
    uint8_t b, g, red;
  };
  std::vector<Disc> discs(6);
  for (Disc& d : discs) {
    d = {static_cast<int>(rng() % width), static_cast<int>(rng() % height), 10 + static_cast<int>(rng() % 40),
         static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng())};
  }
  Bytes pixels(static_cast<size_t>(width) * height * 3, 0);
  Bytes alpha(static_cast<size_t>(width) * height, 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (const Disc& d : discs) {
        const int dx = x - d.x, dy = y - d.y;
        const int dist2 = dx * dx + dy * dy;
        if (dist2 > d.r * d.r) continue;
        const size_t i = static_cast<size_t>(y) * width + x;
        pixels[i * 3] = static_cast<uint8_t>(d.b + y);
        pixels[i * 3 + 1] = static_cast<uint8_t>(d.g + x / 2);
        pixels[i * 3 + 2] = d.red;
        const int edge = d.r * d.r - dist2;
        alpha[i] = static_cast<uint8_t>(std::min(255, edge * 8));
      }
    }
  }
  Bytes out = Concat(pixels, alpha);
  out.resize(size);
  return out;
}

Bytes Generate(Content content, size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out;
  out.reserve(size);
  switch (content) {
    case Content::kRandom:
      while (out.size() < size) out.push_back(static_cast<uint8_t>(rng()));
      break;
    case Content::kConstant:
      out.assign(size, static_cast<uint8_t>(seed));
      break;
    case Content::kRamp:
      for (size_t i = 0; i < size; ++i) out.push_back(static_cast<uint8_t>(i));
      break;
    case Content::kPicture:
      return Picture(size, seed);
    case Content::kText: {
      const char* words[] = {"the ", "frame ", "actor ", "moves ", "left ", "and ", "fades ", "out. ", "\n"};
      while (out.size() < size) {
        const char* w = words[rng() % 9];
        out.insert(out.end(), w, w + std::strlen(w));
        if (rng() % 8 == 0) out.push_back(static_cast<uint8_t>('0' + rng() % 10));
      }
      break;
    }
    case Content::kFarRepeats:
      // Random bytes with copies from up to 70000 bytes back: around and past
      // the near/far boundary and the 65535-byte window.
      while (out.size() < size) {
        const uint32_t choice = rng() % 4;
        if (choice == 0 || out.size() < 1000) {
          for (uint32_t i = rng() % 200; i > 0; --i) out.push_back(static_cast<uint8_t>(rng()));
        } else {
          const uint32_t distances[] = {4094, 4095, 4096, 65535, 65536, static_cast<uint32_t>(1 + rng() % 70000)};
          const size_t distance = std::min<size_t>(distances[choice == 1 ? rng() % 5 : 5], out.size());
          const uint32_t length = 3 + rng() % (choice == 2 ? 4 : 300);
          for (uint32_t i = 0; i < length; ++i) out.push_back(out[out.size() - distance]);
        }
      }
      break;
    case Content::kExpanding:
      // Stretches of 17 to 40 fresh bytes between 3-byte repeats: every repeat
      // costs a run header, so the block grows past the input and the encoder
      // must stop inside its output area.
      while (out.size() < size) {
        for (uint32_t i = 17 + rng() % 24; i > 0; --i) out.push_back(static_cast<uint8_t>(rng()));
        const size_t distance = 1 + rng() % std::min<size_t>(out.size() - 3, 3000);
        for (int i = 0; i < 3; ++i) out.push_back(out[out.size() - distance]);
      }
      break;
  }
  out.resize(size);
  return out;
}

// Encodes into exactly the documented area and checks the block against both
// decoders: exact capacity gives the input, one byte less is refused.
void ExpectRoundTrip(const Bytes& input, bool mustCompress) {
  const uint32_t size = static_cast<uint32_t>(input.size());
  const Encoded e = Encode(input);
  ASSERT_TRUE(e.canariesIntact) << "wrote past EncodeBlockOutputCapacity";
  if (e.result == 0) {
    ASSERT_FALSE(mustCompress);
    return;
  }
  ASSERT_LT(e.result, size);
  ASSERT_EQ(static_cast<uint32_t>(e.block[0] | e.block[1] << 8 | e.block[2] << 16 | e.block[3] << 24), e.result);
  for (auto decode : {&DecodeBlock, &DecodeBlockRef}) {
    Bytes out(size + kCanaryBytes, kCanary);
    ASSERT_EQ(decode(e.block.data(), e.result, out.data(), size), size);
    ASSERT_TRUE(std::equal(input.begin(), input.end(), out.begin()));
    ASSERT_TRUE(std::all_of(out.begin() + size, out.end(), [](uint8_t b) { return b == kCanary; }));
    std::fill(out.begin(), out.end(), kCanary);
    ASSERT_EQ(decode(e.block.data(), e.result, out.data(), size - 1), 0u);
    ASSERT_TRUE(std::all_of(out.begin() + (size - 1), out.end(), [](uint8_t b) { return b == kCanary; }));
  }
}

TEST(EncoderRoundTrip, ContentsAndSizes) {
  const uint32_t sizes[] = {0,    1,    2,    6,    7,    100,  272,   273,   274,   275,   276,   300,
                            546,  547,  1000, 4095, 4096, 4097, 4367,  4368,  4369,  4370,  4640,  4641,
                            4642, 8736, 9000, 65534, 65535, 65536, 65537, 70000, 131072, 300000};
  const Content contents[] = {Content::kRandom, Content::kConstant, Content::kRamp,      Content::kPicture,
                              Content::kText,   Content::kFarRepeats, Content::kExpanding};
  for (Content content : contents) {
    for (uint32_t size : sizes) {
      SCOPED_TRACE(testing::Message() << ContentName(content) << " " << size);
      // Far repeats start with 1000 fresh bytes.
      const uint32_t compressesFrom = content == Content::kFarRepeats ? 5000 : 1000;
      const bool compressible = content != Content::kRandom && content != Content::kExpanding && size >= compressesFrom;
      ExpectRoundTrip(Generate(content, size, size), compressible);
      if (HasFatalFailure()) return;
    }
  }
}

TEST(EncoderRoundTrip, ManyRandomSizes) {
  std::mt19937 rng(77);
  const Content contents[] = {Content::kConstant, Content::kPicture, Content::kText, Content::kFarRepeats,
                              Content::kExpanding};
  for (int iter = 0; iter < 300; ++iter) {
    const Content content = contents[rng() % 5];
    const uint32_t size = rng() % 20000;
    SCOPED_TRACE(testing::Message() << ContentName(content) << " " << size);
    ExpectRoundTrip(Generate(content, size, iter), false);
    if (HasFatalFailure()) return;
  }
}

TEST(EncoderRoundTrip, GrowingBlocksStayInsideTheOutputArea) {
  // Inputs that do not compress but contain matches make the encoder run
  // past the input size between two of its checks; it must stop inside the
  // documented area and give 0. How far it went shows that the slack is
  // actually used.
  uint32_t deepest = 0;
  for (uint32_t seed = 0; seed < 400; ++seed) {
    const Bytes input = Generate(Content::kExpanding, 6000 + seed * 37, seed);
    const uint32_t size = static_cast<uint32_t>(input.size());
    Bytes area(EncodeBlockOutputCapacity(size) + kCanaryBytes, kCanary);
    ASSERT_EQ(EncodeBlock(input.data(), size, area.data()), 0u);
    for (size_t i = EncodeBlockOutputCapacity(size); i < area.size(); ++i) ASSERT_EQ(area[i], kCanary);
    for (uint32_t i = EncodeBlockOutputCapacity(size); i > size; --i) {
      if (area[i - 1] != kCanary) {
        deepest = std::max(deepest, i - size);
        break;
      }
    }
  }
  EXPECT_GT(deepest, 0u);
  EXPECT_LE(deepest, kEncodeOutputSlack);
}

TEST(EncoderTest, EachCallStartsFromAnEmptyTable) {
  // A table left over from an earlier call would offer stale matches.
  const Bytes a = Generate(Content::kText, 9000, 1);
  const Bytes b = Generate(Content::kText, 9000, 2);
  const Encoded fresh = Encode(b);
  Encode(a);
  EXPECT_EQ(Encode(b).block, fresh.block);
}

TEST(EncoderTest, ConcurrentCallsGiveTheSameBlocks) {
  std::vector<Bytes> inputs;
  std::vector<Bytes> expected;
  for (uint32_t i = 0; i < 4; ++i) {
    inputs.push_back(Generate(i % 2 ? Content::kPicture : Content::kText, 50000 + i * 999, i));
    expected.push_back(Encode(inputs.back()).block);
    ASSERT_FALSE(expected.back().empty());
  }
  std::vector<int> mismatches(inputs.size(), 0);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < inputs.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int r = 0; r < 20; ++r) mismatches[t] += Encode(inputs[t]).block != expected[t];
    });
  }
  for (auto& th : threads) th.join();
  for (int m : mismatches) EXPECT_EQ(m, 0);
}

}  // namespace
}  // namespace tiko
