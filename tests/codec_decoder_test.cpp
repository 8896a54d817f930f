// Block decoder: the token grammar, the capacity and bounds checks, refusal of
// malformed blocks, and agreement of the fast decoder with the plain one.
#include "codec/decoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "codec/encoder.h"

namespace tiko {
namespace {

using Bytes = std::vector<uint8_t>;
using DecodeFn = uint32_t (*)(const uint8_t*, uint32_t, uint8_t*, uint32_t);

constexpr uint8_t kCanary = 0xA5;
constexpr uint32_t kCanaryBytes = 64;

// Builds blocks token by token with raw token bytes, so tests can say exactly
// which bytes a block holds, malformed ones included.
struct BlockBuilder {
  Bytes bytes{0, 0, 0, 0};
  size_t slot = 0;
  uint32_t tokens = kGroupTokens;  // forces a control word before the first token

  BlockBuilder& Token(bool flagged, std::initializer_list<uint8_t> tokenBytes) {
    return Token(flagged, Bytes(tokenBytes));
  }
  BlockBuilder& Token(bool flagged, const Bytes& tokenBytes) {
    if (tokens == kGroupTokens) {
      slot = bytes.size();
      bytes.push_back(0);
      bytes.push_back(0);
      tokens = 0;
    }
    if (flagged) bytes[slot + tokens / 8] |= static_cast<uint8_t>(1u << (tokens % 8));
    ++tokens;
    bytes.insert(bytes.end(), tokenBytes.begin(), tokenBytes.end());
    return *this;
  }
  BlockBuilder& Literal(uint8_t value) { return Token(false, {value}); }
  BlockBuilder& Literals(const Bytes& values) {
    for (uint8_t v : values) Literal(v);
    return *this;
  }
  // Appends raw bytes with no token bookkeeping (a dangling control word, junk).
  BlockBuilder& Raw(std::initializer_list<uint8_t> raw) {
    bytes.insert(bytes.end(), raw);
    return *this;
  }
  Bytes Finish() {
    const uint32_t total = static_cast<uint32_t>(bytes.size());
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(total >> (8 * i));
    return bytes;
  }
};

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Pattern(size_t n, uint32_t seed) {
  Bytes out(n);
  std::mt19937 rng(seed);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

Bytes Le16(uint32_t v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; }
Bytes Le32(uint32_t v) { return Concat(Le16(v), Le16(v >> 16)); }

// Literal-run token bytes in each form.
Bytes WordRun(const Bytes& payload) { return Concat(Concat({0, 0, 0}, Le16(static_cast<uint32_t>(payload.size()))), payload); }
Bytes LongRun(const Bytes& payload) {
  return Concat(Concat({0, 0, 0, 0, 0}, Le32(static_cast<uint32_t>(payload.size()))), payload);
}

// The result of one decode into an area with canary bytes behind `capacity`.
struct Decoded {
  uint32_t result;
  Bytes output;       // output[0 .. result) on success
  bool canariesIntact;
};

Decoded RunDecode(DecodeFn decode, const Bytes& block, uint32_t capacity, uint32_t blockSize) {
  Bytes area(capacity + kCanaryBytes, kCanary);
  const uint32_t result = decode(block.data(), blockSize, area.data(), capacity);
  Decoded d{result, Bytes(area.begin(), area.begin() + std::min(result, capacity)), true};
  for (size_t i = capacity; i < area.size(); ++i) d.canariesIntact &= area[i] == kCanary;
  return d;
}

Decoded RunDecode(DecodeFn decode, const Bytes& block, uint32_t capacity) {
  return RunDecode(decode, block, capacity, static_cast<uint32_t>(block.size()));
}

// Room for everything the block could produce.
uint32_t FullCapacity(const Bytes& block) {
  return static_cast<uint32_t>(DecodeBlockMaxOutput(static_cast<uint32_t>(block.size())));
}

// What a block must decode to when copying each match byte by byte.
Bytes ApplyMatch(Bytes out, uint32_t distance, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i) out.push_back(out[out.size() - distance]);
  return out;
}

// ---------------------------------------------------------------------------
// Both decoders must pass every grammar test.

class DecoderTest : public ::testing::TestWithParam<DecodeFn> {
 protected:
  DecodeFn decode() const { return GetParam(); }
};

INSTANTIATE_TEST_SUITE_P(Decoders, DecoderTest, ::testing::Values(&DecodeBlock, &DecodeBlockRef),
                         [](const auto& info) { return info.index == 0 ? std::string("Fast") : std::string("Ref"); });

const Bytes kElevenByteBlock = {0x0B, 0x00, 0x00, 0x00, 0x08, 0x00, 0x61, 0x62, 0x63, 0x07, 0x03};

TEST_P(DecoderTest, ElevenByteBlockNeedsTwelveBytesOfCapacity) {
  const Decoded exact = RunDecode(decode(), kElevenByteBlock, 12);
  EXPECT_EQ(exact.result, 12u);
  EXPECT_EQ(exact.output, Bytes({0x61, 0x62, 0x63, 0x61, 0x62, 0x63, 0x61, 0x62, 0x63, 0x61, 0x62, 0x63}));
  EXPECT_TRUE(exact.canariesIntact);

  const Decoded oneShort = RunDecode(decode(), kElevenByteBlock, 11);
  EXPECT_EQ(oneShort.result, 0u);
  EXPECT_TRUE(oneShort.canariesIntact);

  EXPECT_EQ(RunDecode(decode(), kElevenByteBlock, 1000).result, 12u);
}

TEST_P(DecoderTest, TotalSizeAgainstBlockSize) {
  // One byte missing: refused although every token is there.
  EXPECT_EQ(RunDecode(decode(), kElevenByteBlock, 12, 10).result, 0u);
  // Bytes behind the total size are not part of the block.
  const Bytes padded = Concat(kElevenByteBlock, {0xFF, 0xFF, 0x12, 0x34});
  const Decoded d = RunDecode(decode(), padded, 12);
  EXPECT_EQ(d.result, 12u);
  EXPECT_EQ(d.output, RunDecode(decode(), kElevenByteBlock, 12).output);
}

TEST_P(DecoderTest, DistanceOneRepeatsTheLastByte) {
  const Bytes block = BlockBuilder().Literal(0x5A).Token(true, {0x00, 0x01, 0xFF}).Finish();
  const Decoded d = RunDecode(decode(), block, 274);
  EXPECT_EQ(d.result, 274u);
  EXPECT_EQ(d.output, Bytes(274, 0x5A));
}

// Every match form, at the ends of its distance and length ranges.
struct MatchCase {
  const char* name;
  uint32_t produced;  // bytes before the match, from a literal run
  Bytes token;
  uint32_t distance;
  uint32_t length;
};

TEST_P(DecoderTest, MatchForms) {
  const MatchCase cases[] = {
      {"near short 3", 40, {0x01, 0x05}, 5, 3},
      {"near short 17", 40, {0x0F, 0x05}, 5, 17},
      {"near short far end", 5000, {0xFF, 0xFE}, 4094, 17},
      {"near long 18", 40, {0x00, 0x07, 0x00}, 7, 18},
      {"near long 273", 600, {0x20, 0x01, 0xFF}, 0x201, 273},
      {"overlapping period 3", 40, {0x00, 0x03, 0x80}, 3, 146},
      {"overlapping period 7", 40, {0x0C, 0x07}, 7, 14},
      {"far short 4095", 5000, {0xF1, 0xFF, 0xFF, 0x0F}, 4095, 3},
      {"far short small distance", 40, {0xF3, 0xFF, 0x02, 0x00}, 2, 5},
      {"far long 4095", 5000, {0xF0, 0xFF, 0xFF, 0x0F, 0x00}, 4095, 18},
      {"far long 65535", 70000, {0xF0, 0xFF, 0xFF, 0xFF, 0xFF}, 65535, 273},
  };
  for (const MatchCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes prefix = Pattern(c.produced, c.produced);
    const Bytes block = BlockBuilder().Token(true, LongRun(prefix)).Token(true, c.token).Finish();
    const Bytes expected = ApplyMatch(prefix, c.distance, c.length);
    const Decoded d = RunDecode(decode(), block, static_cast<uint32_t>(expected.size()));
    EXPECT_EQ(d.result, expected.size());
    EXPECT_EQ(d.output, expected);
    EXPECT_TRUE(d.canariesIntact);
  }
}

TEST_P(DecoderTest, LiteralRunForms) {
  struct RunCase {
    const char* name;
    Bytes header;
    uint32_t length;
  };
  const RunCase cases[] = {
      {"short 17", {0x01, 0x00}, 17},
      {"short 31", {0x0F, 0x00}, 31},
      {"byte 32", {0x00, 0x00, 0x01}, 32},
      {"byte 286", {0x00, 0x00, 0xFF}, 286},
      {"word 1", {0x00, 0x00, 0x00, 0x01, 0x00}, 1},
      {"word 300", {0x00, 0x00, 0x00, 0x2C, 0x01}, 300},
      {"word 65535", {0x00, 0x00, 0x00, 0xFF, 0xFF}, 65535},
      {"long 1", {0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00}, 1},
      {"long 70000", {0x00, 0x00, 0x00, 0x00, 0x00, 0x70, 0x11, 0x01, 0x00}, 70000},
  };
  for (const RunCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes payload = Pattern(c.length, c.length);
    // A literal after the run proves the next token starts right behind it.
    const Bytes block = BlockBuilder().Token(true, Concat(c.header, payload)).Literal(0xEE).Finish();
    const Decoded d = RunDecode(decode(), block, c.length + 1);
    EXPECT_EQ(d.result, c.length + 1);
    EXPECT_EQ(d.output, Concat(payload, {0xEE}));
  }
}

TEST_P(DecoderTest, WordRunDecodesLikeLiterals) {
  const Bytes payload = Pattern(300, 7);
  const Bytes asRun = BlockBuilder().Token(true, WordRun(payload)).Finish();
  ASSERT_EQ(Bytes(asRun.begin() + 6, asRun.begin() + 11), Bytes({0x00, 0x00, 0x00, 0x2C, 0x01}));
  const Bytes asLiterals = BlockBuilder().Literals(payload).Finish();
  const Decoded run = RunDecode(decode(), asRun, 300);
  const Decoded literals = RunDecode(decode(), asLiterals, 300);
  EXPECT_EQ(run.result, 300u);
  EXPECT_EQ(literals.result, 300u);
  EXPECT_EQ(run.output, payload);
  EXPECT_EQ(literals.output, payload);
}

TEST_P(DecoderTest, SeventeenthTokenReadsASecondControlWord) {
  Bytes sixteen(16);
  for (uint32_t i = 0; i < 16; ++i) sixteen[i] = static_cast<uint8_t>(0x40 + i);
  // Group 1: sixteen literals. Group 2: a match with distance 16, length 3;
  // a decoder that kept using the first control word would take 0x01 and
  // 0x10 as literals.
  const Bytes block = BlockBuilder().Literals(sixteen).Token(true, {0x01, 0x10}).Finish();
  ASSERT_EQ(block.size(), 4u + 2 + 16 + 2 + 2);
  const Decoded d = RunDecode(decode(), block, 19);
  EXPECT_EQ(d.result, 19u);
  EXPECT_EQ(d.output, Concat(sixteen, {0x40, 0x41, 0x42}));
}

TEST_P(DecoderTest, SixteenTokensNeedOneControlWord) {
  Bytes fifteen(15);
  for (uint32_t i = 0; i < 15; ++i) fifteen[i] = static_cast<uint8_t>(i * 3);
  const Bytes block = BlockBuilder().Literals(fifteen).Token(true, {0x02, 0x0F}).Finish();
  ASSERT_EQ(block.size(), 4u + 2 + 15 + 2);
  ASSERT_EQ(block[4], 0x00);
  ASSERT_EQ(block[5], 0x80);  // the 16th token's flag is bit 15
  const Decoded d = RunDecode(decode(), block, 100);
  EXPECT_EQ(d.result, 19u);
  EXPECT_EQ(d.output, Concat(fifteen, {0, 3, 6, 9}));
}

TEST_P(DecoderTest, ShortDecodeReturnsItsCountAndWritesNothingMore) {
  // The caller learns how many bytes came out; the rest of its area is untouched.
  Bytes area(64, kCanary);
  EXPECT_EQ(decode()(kElevenByteBlock.data(), 11, area.data(), 64), 12u);
  for (size_t i = 12; i < area.size(); ++i) ASSERT_EQ(area[i], kCanary) << i;
}

// Blocks that must be refused, with the reason.
struct MalformedCase {
  const char* name;
  Bytes block;
};

std::vector<MalformedCase> MalformedBlocks() {
  const Bytes fewLiterals = {1, 2, 3, 4, 5};
  auto withToken = [&](Bytes token) { return BlockBuilder().Literals(fewLiterals).Token(true, token).Finish(); };
  Bytes sixteen(16, 9);
  return {
      {"shorter than its header", {0x03, 0x00, 0x00}},
      {"empty", {}},
      {"total size below header", {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x61}},
      {"header only", {0x04, 0x00, 0x00, 0x00}},
      {"control word without token", {0x06, 0x00, 0x00, 0x00, 0x00, 0x00}},
      {"half a control word", {0x05, 0x00, 0x00, 0x00, 0x00}},
      {"control word after a full group", BlockBuilder().Literals(sixteen).Raw({0x00, 0x00}).Finish()},
      {"half a control word after a full group", BlockBuilder().Literals(sixteen).Raw({0x00}).Finish()},
      {"flagged token of one byte", withToken({0x13})},
      {"match before any output", BlockBuilder().Token(true, {0x01, 0x01}).Finish()},
      {"match distance one past the output", withToken({0x01, 0x06})},
      {"near long match without length byte", withToken({0x00, 0x01})},
      {"far match without distance", withToken({0xF1, 0xFF})},
      {"far match with half a distance", withToken({0xF1, 0xFF, 0x01})},
      {"far match with distance 0", withToken({0xF1, 0xFF, 0x00, 0x00})},
      {"far match distance past the output", withToken({0xF1, 0xFF, 0x06, 0x00})},
      {"far long match without length byte", withToken({0xF0, 0xFF, 0x01, 0x00})},
      {"short run past the end", withToken({0x01, 0x00, 1, 2, 3})},
      {"byte run without length", withToken({0x00, 0x00})},
      {"byte run past the end", withToken({0x00, 0x00, 0x01, 1, 2, 3})},
      {"word run with half a length", withToken({0x00, 0x00, 0x00, 0x05})},
      {"word run past the end", withToken({0x00, 0x00, 0x00, 0x05, 0x00, 1, 2, 3, 4})},
      {"long run with partial length", withToken({0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00})},
      {"long run of length 0", withToken({0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00})},
      {"long run of 4 GiB - 1", withToken({0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2})},
  };
}

TEST_P(DecoderTest, MalformedBlocksAreRefused) {
  for (const MalformedCase& c : MalformedBlocks()) {
    SCOPED_TRACE(c.name);
    // A generous capacity, so that only the malformation can be the reason.
    const Decoded d = RunDecode(decode(), c.block, FullCapacity(c.block));
    EXPECT_EQ(d.result, 0u);
    EXPECT_TRUE(d.canariesIntact);
  }
}

TEST_P(DecoderTest, MatchReachingBackToTheFirstByteIsValid) {
  // The counterpart of "distance one past the output": distance == bytes produced.
  const Bytes block = BlockBuilder().Literals({1, 2, 3, 4, 5}).Token(true, {0x01, 0x05}).Finish();
  const Decoded d = RunDecode(decode(), block, 8);
  EXPECT_EQ(d.result, 8u);
  EXPECT_EQ(d.output, Bytes({1, 2, 3, 4, 5, 1, 2, 3}));
}

TEST_P(DecoderTest, NoBlockExpandsBeyondTheStatedBound) {
  // The densest block there is: a literal, then nothing but near long matches
  // of 273 bytes.
  BlockBuilder b;
  b.Literal(0x11);
  for (int i = 0; i < 1000; ++i) b.Token(true, {0x00, 0x01, 0xFF});
  const Bytes block = b.Finish();
  const uint64_t bound = DecodeBlockMaxOutput(static_cast<uint32_t>(block.size()));
  const Decoded d = RunDecode(decode(), block, static_cast<uint32_t>(bound));
  EXPECT_EQ(d.result, 1u + 1000u * 273u);
  EXPECT_LE(d.result, bound);
}

// ---------------------------------------------------------------------------
// Valid blocks made by the encoder: capacity and truncation.

std::vector<Bytes> SampleInputs() {
  std::vector<Bytes> inputs;
  Bytes text;
  const char* words[] = {"alpha ", "beta ", "gamma ", "delta ", "epsilon "};
  std::mt19937 rng(3);
  while (text.size() < 3000) {
    const char* w = words[rng() % 5];
    text.insert(text.end(), w, w + std::strlen(w));
  }
  inputs.push_back(text);
  inputs.push_back(Bytes(2000, 0x07));
  Bytes ramp(5000);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<uint8_t>(i / 7);
  inputs.push_back(ramp);
  // Far matches: a random stretch repeated 5000 bytes later.
  Bytes far = Pattern(5000, 11);
  far.insert(far.end(), far.begin(), far.begin() + 600);
  far.insert(far.end(), 400, 0x00);
  inputs.push_back(far);
  return inputs;
}

std::vector<Bytes> SampleBlocks() {
  std::vector<Bytes> blocks = {kElevenByteBlock};
  for (const Bytes& input : SampleInputs()) {
    Bytes block(EncodeBlockOutputCapacity(static_cast<uint32_t>(input.size())));
    const uint32_t size = EncodeBlock(input.data(), static_cast<uint32_t>(input.size()), block.data());
    EXPECT_NE(size, 0u);
    block.resize(size);
    blocks.push_back(block);
  }
  return blocks;
}

TEST_P(DecoderTest, CapacityOneShortIsRefused) {
  for (const Bytes& block : SampleBlocks()) {
    const uint32_t produced = RunDecode(decode(), block, FullCapacity(block)).result;
    ASSERT_GT(produced, 0u);
    EXPECT_EQ(RunDecode(decode(), block, produced).result, produced);
    for (uint32_t capacity : {produced - 1, produced / 2, 1u, 0u}) {
      const Decoded d = RunDecode(decode(), block, capacity);
      EXPECT_EQ(d.result, 0u) << "capacity " << capacity;
      EXPECT_TRUE(d.canariesIntact) << "capacity " << capacity;
    }
  }
}

TEST_P(DecoderTest, EveryTruncationIsRefused) {
  for (const Bytes& block : SampleBlocks()) {
    const Decoded full = RunDecode(decode(), block, FullCapacity(block));
    ASSERT_GT(full.result, 0u);
    for (size_t cut = 0; cut < block.size(); ++cut) {
      // The bytes that are there, handed over as they are: the total size
      // says more than the block size.
      const Bytes prefix(block.begin(), block.begin() + cut);
      const Decoded d = RunDecode(decode(), prefix, full.result);
      ASSERT_EQ(d.result, 0u) << "cut at " << cut;
      ASSERT_TRUE(d.canariesIntact);

      // The same bytes with a total size rewritten to match: either refused,
      // or (cut on a token boundary) a prefix of the full output.
      if (cut < kBlockHeaderSize) continue;
      Bytes relabelled = prefix;
      for (int i = 0; i < 4; ++i) relabelled[i] = static_cast<uint8_t>(cut >> (8 * i));
      const Decoded r = RunDecode(decode(), relabelled, full.result);
      ASSERT_TRUE(r.canariesIntact);
      if (r.result != 0) {
        ASSERT_LE(r.result, full.result);
        ASSERT_TRUE(std::equal(r.output.begin(), r.output.end(), full.output.begin())) << "cut at " << cut;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// The fast decoder against the plain one.

// Decodes with both and requires the same result, and the same bytes on success.
void ExpectSameDecode(const Bytes& block, uint32_t blockSize, uint32_t capacity) {
  const Decoded fast = RunDecode(&DecodeBlock, block, capacity, blockSize);
  const Decoded ref = RunDecode(&DecodeBlockRef, block, capacity, blockSize);
  ASSERT_EQ(fast.result, ref.result);
  ASSERT_TRUE(fast.canariesIntact);
  ASSERT_TRUE(ref.canariesIntact);
  if (fast.result != 0) {
    ASSERT_EQ(fast.output, ref.output);
  }
}

TEST(DecoderAgreement, MutatedValidBlocks) {
  std::mt19937 rng(1234);
  const std::vector<Bytes> blocks = SampleBlocks();
  uint32_t successes = 0;
  for (int iter = 0; iter < 4000; ++iter) {
    Bytes block = blocks[rng() % blocks.size()];
    // Flip a few bytes, header excluded, so the grammar rather than the
    // total-size check decides.
    const int flips = static_cast<int>(rng() % 4);
    for (int i = 0; i < flips; ++i) block[kBlockHeaderSize + rng() % (block.size() - kBlockHeaderSize)] = static_cast<uint8_t>(rng());
    const uint32_t produced = RunDecode(&DecodeBlockRef, block, FullCapacity(block)).result;
    successes += produced != 0;
    // Exact, one short, and a random capacity.
    for (uint32_t capacity : {produced, produced ? produced - 1 : 0, static_cast<uint32_t>(rng() % 20000)}) {
      ExpectSameDecode(block, static_cast<uint32_t>(block.size()), capacity);
      if (HasFatalFailure()) return;
    }
  }
  // Most mutations of literals leave a valid block: the comparison saw real output.
  EXPECT_GT(successes, 500u);
}

TEST(DecoderAgreement, RandomTokenStreams) {
  // Blocks of random tokens biased towards plausible ones, so that long
  // sequences of matches and runs decode before something goes wrong.
  std::mt19937 rng(99);
  uint32_t successes = 0;
  for (int iter = 0; iter < 3000; ++iter) {
    BlockBuilder b;
    b.Token(true, WordRun(Pattern(1 + rng() % 5000, iter)));
    const int tokens = static_cast<int>(rng() % 60);
    for (int t = 0; t < tokens; ++t) {
      switch (rng() % 5) {
        case 0:
          b.Literal(static_cast<uint8_t>(rng()));
          break;
        case 1:
          b.Token(true, {static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng())});
          break;
        case 2:
          b.Token(true, {static_cast<uint8_t>(rng() & 0xF0), static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng())});
          break;
        case 3:
          b.Token(true, {static_cast<uint8_t>(0xF0 | (rng() & 0x0F)), 0xFF, static_cast<uint8_t>(rng()),
                         static_cast<uint8_t>(rng() % 24), static_cast<uint8_t>(rng())});
          break;
        default:
          b.Token(true, Concat({static_cast<uint8_t>(1 + rng() % 15), 0x00}, Pattern(31, t)));
          break;
      }
    }
    Bytes block = b.Finish();
    if (rng() % 4 == 0) block.resize(rng() % (block.size() + 1));
    const uint32_t produced = RunDecode(&DecodeBlockRef, block, FullCapacity(block)).result;
    successes += produced != 0;
    for (uint32_t capacity : {produced, produced ? produced - 1 : 0, static_cast<uint32_t>(rng() % 40000)}) {
      ExpectSameDecode(block, static_cast<uint32_t>(block.size()), capacity);
      if (HasFatalFailure()) return;
    }
  }
  EXPECT_GT(successes, 100u);
}

TEST(DecoderAgreement, RandomBytes) {
  std::mt19937 rng(5);
  for (int iter = 0; iter < 20000; ++iter) {
    Bytes block = Pattern(rng() % 300, iter);
    if (block.size() >= kBlockHeaderSize && rng() % 2) {
      // Mostly a consistent total size, so decoding gets past the header.
      const uint32_t total = static_cast<uint32_t>(block.size() - rng() % 3);
      for (int i = 0; i < 4; ++i) block[i] = static_cast<uint8_t>(total >> (8 * i));
    }
    ExpectSameDecode(block, static_cast<uint32_t>(block.size()), rng() % 3000);
    if (HasFatalFailure()) return;
  }
}

}  // namespace
}  // namespace tiko
