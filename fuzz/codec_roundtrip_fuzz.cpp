// Encode, then decode: every block the encoder returns is smaller than its
// input, fits in the documented output area (a heap block of exactly that
// size, so AddressSanitizer sees any byte past it), and decodes with both
// decoders to exactly the input.
//
// Fuzz inputs are small, and the encoder's interesting cases (the main zone,
// far and long matches, the 65535-byte window) need large inputs with long-range
// repeats, so besides the raw bytes each input is also read as a short program
// that builds a larger one.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "codec/decoder.h"
#include "codec/encoder.h"

namespace {

constexpr size_t kMaxExpanded = 160 * 1024;  // past the 64 KiB window, small enough to run fast
constexpr uint32_t kOpMask = 0xC0;
constexpr uint32_t kArgMask = 0x3F;
constexpr uint32_t kOpLiterals = 0x00;   // (arg + 1) bytes copied from the program
constexpr uint32_t kOpNearCopy = 0x40;   // arg + 3 bytes from (next byte + 1) back
constexpr uint32_t kOpFarCopy = 0x80;    // (arg & 31) + 3 bytes from a 16-bit distance, beyond 65535 with arg & 32
constexpr uint32_t kFarExtra = 0x20;
constexpr uint32_t kOpRun = 0xC0;        // (arg + 1) * 64 copies of the next byte
constexpr uint32_t kRunUnit = 64;

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "codec_roundtrip_fuzz: %s\n", what);
    std::abort();
  }
}

std::vector<uint8_t> Expand(const uint8_t* program, size_t size) {
  std::vector<uint8_t> out;
  size_t i = 0;
  auto next = [&]() -> uint32_t { return i < size ? program[i++] : 0; };
  auto copy = [&](size_t distance, size_t length) {
    if (out.empty()) return;
    distance = std::min(std::max<size_t>(distance, 1), out.size());
    for (size_t k = 0; k < length; ++k) out.push_back(out[out.size() - distance]);
  };
  while (i < size && out.size() < kMaxExpanded) {
    const uint32_t op = next();
    const uint32_t arg = op & kArgMask;
    switch (op & kOpMask) {
      case kOpLiterals: {
        const size_t n = std::min<size_t>(arg + 1, size - i);
        out.insert(out.end(), program + i, program + i + n);
        i += n;
        break;
      }
      case kOpNearCopy:
        copy(next() + 1, arg + 3);
        break;
      case kOpFarCopy: {
        const uint32_t low = next();
        const size_t distance = (low | next() << 8) + 1 + ((arg & kFarExtra) ? 4094 : 0);
        copy(distance, (arg & (kFarExtra - 1)) + 3);
        break;
      }
      case kOpRun:
        out.insert(out.end(), (arg + 1) * kRunUnit, static_cast<uint8_t>(next()));
        break;
    }
  }
  if (out.size() > kMaxExpanded) out.resize(kMaxExpanded);
  return out;
}

void RoundTrip(const uint8_t* input, size_t size) {
  const uint32_t n = static_cast<uint32_t>(size);
  std::unique_ptr<uint8_t[]> block(new uint8_t[tiko::EncodeBlockOutputCapacity(n)]);
  const uint32_t blockSize = tiko::EncodeBlock(input, n, block.get());
  if (blockSize == 0) return;
  Require(blockSize < n, "block not smaller than its input");
  Require(blockSize >= tiko::kBlockHeaderSize + tiko::kControlWordSize, "block too small");
  const uint32_t header = block[0] | block[1] << 8 | block[2] << 16 | static_cast<uint32_t>(block[3]) << 24;
  Require(header == blockSize, "header differs from the returned size");

  for (bool reference : {false, true}) {
    auto decode = reference ? tiko::DecodeBlockRef : tiko::DecodeBlock;
    std::unique_ptr<uint8_t[]> out(new uint8_t[n]);
    Require(decode(block.get(), blockSize, out.get(), n) == n, "block does not decode to the input size");
    Require(std::memcmp(out.get(), input, n) == 0, "block does not decode to the input");
    std::unique_ptr<uint8_t[]> shorter(new uint8_t[n - 1]);
    Require(decode(block.get(), blockSize, shorter.get(), n - 1) == 0, "capacity one short accepted");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxExpanded) return 0;
  RoundTrip(data, size);
  const std::vector<uint8_t> expanded = Expand(data, size);
  RoundTrip(expanded.data(), expanded.size());
  return 0;
}
