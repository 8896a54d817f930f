// Decoding untrusted blocks: whatever the bytes, both decoders agree, stay
// inside the block and the output area (every area below is a heap block of
// exactly its capacity, so AddressSanitizer sees the first byte past it), and
// the result depends on the capacity only as far as the output has to fit.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "codec/decoder.h"

namespace {

// Keeps the probe area (up to 91 bytes per input byte) well inside the
// fuzzer's memory limit.
constexpr size_t kMaxBlock = 64 * 1024;

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "codec_decode_fuzz: %s\n", what);
    std::abort();
  }
}

// An output area of exactly `capacity` bytes on the heap.
struct Area {
  std::unique_ptr<uint8_t[]> bytes;
  uint32_t capacity;
  explicit Area(uint64_t size) : bytes(new uint8_t[size]), capacity(static_cast<uint32_t>(size)) {}
};

uint32_t Decode(const uint8_t* data, uint32_t size, uint8_t* out, uint32_t capacity, bool reference) {
  return reference ? tiko::DecodeBlockRef(data, size, out, capacity) : tiko::DecodeBlock(data, size, out, capacity);
}

uint32_t Decode(const uint8_t* data, uint32_t size, Area& area, bool reference) {
  return Decode(data, size, area.bytes.get(), area.capacity, reference);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxBlock) return 0;
  const uint32_t blockSize = static_cast<uint32_t>(size);

  // Room for anything the block could produce: the full result. These two
  // areas are reused between runs for speed; the exact-size areas below are
  // the ones that catch a write past the capacity.
  static uint8_t full[tiko::DecodeBlockMaxOutput(kMaxBlock)];
  static uint8_t fullRef[tiko::DecodeBlockMaxOutput(kMaxBlock)];
  const uint32_t fullCapacity = static_cast<uint32_t>(tiko::DecodeBlockMaxOutput(blockSize));
  const uint32_t produced = Decode(data, blockSize, full, fullCapacity, false);
  Require(Decode(data, blockSize, fullRef, fullCapacity, true) == produced, "fast and reference decoders disagree");
  Require(std::memcmp(full, fullRef, produced) == 0, "fast and reference outputs differ");

  if (produced != 0) {
    for (bool reference : {false, true}) {
      Area exact(produced);
      Require(Decode(data, blockSize, exact, reference) == produced, "exact capacity refused");
      Require(std::memcmp(exact.bytes.get(), full, produced) == 0, "exact capacity decodes differently");
      Area oneShort(produced - 1);
      Require(Decode(data, blockSize, oneShort, reference) == 0, "capacity one short accepted");
    }
  }

  // A capacity chosen by the input itself (its last two bytes), so the fuzzer
  // can steer it to any point of the output.
  if (size >= 2) {
    const uint32_t wanted = (data[size - 2] | data[size - 1] << 8) % (fullCapacity + 1);
    for (bool reference : {false, true}) {
      Area area(wanted);
      const uint32_t result = Decode(data, blockSize, area, reference);
      Require(result == (produced != 0 && wanted >= produced ? produced : 0), "result depends on capacity");
      Require(std::memcmp(area.bytes.get(), full, result) == 0, "output depends on capacity");
    }
  }
  return 0;
}
