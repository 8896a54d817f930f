// The halving of a BGR24 row with byte shuffles (SSSE3, in the SSE4.1 set;
// the AVX2 set uses it too: the row is bound by loads and stores, and 256-bit
// shuffles cannot cross their 128-bit halves).
//
// Sixteen output pixels (48 bytes) come from 32 source pixels (96 bytes).
// Output byte j is source byte 6 x (j / 3) + j % 3; the sixteen output bytes of
// each third of the block come from 31 consecutive source bytes, so two loads
// and two shuffles make them.
#include <array>

#include "image/intake.h"
#include "image/simd_x86.h"

#if TIKO_SIMD_X86

namespace tiko {
namespace {

constexpr int kPixelBytes = 3;
constexpr int kBlockPixels = 16;  // output pixels per block
constexpr int kBlockBytes = kBlockPixels * kPixelBytes;
constexpr int kLaneBytes = 16;
constexpr int kThirds = kBlockBytes / kLaneBytes;
constexpr int8_t kZero = -128;  // a shuffle index that gives 0

constexpr int SourceByte(int j) { return 2 * kPixelBytes * (j / kPixelBytes) + j % kPixelBytes; }

// Per third: where its two loads start, and the shuffles that take its bytes
// from the first and from the second load.
struct Third {
  int load;
  std::array<int8_t, kLaneBytes> low;
  std::array<int8_t, kLaneBytes> high;
};

constexpr std::array<Third, kThirds> MakeThirds() {
  std::array<Third, kThirds> thirds{};
  for (int t = 0; t < kThirds; ++t) {
    // The loads end on the third's last byte, so a block never reads past the
    // last source pixel it takes.
    const int last = SourceByte(t * kLaneBytes + kLaneBytes - 1);
    const int first = last - 2 * kLaneBytes + 1 > 0 ? last - 2 * kLaneBytes + 1 : 0;
    thirds[t].load = first;
    for (int i = 0; i < kLaneBytes; ++i) {
      const int at = SourceByte(t * kLaneBytes + i) - first;
      thirds[t].low[i] = at < kLaneBytes ? static_cast<int8_t>(at) : kZero;
      thirds[t].high[i] = at >= kLaneBytes ? static_cast<int8_t>(at - kLaneBytes) : kZero;
    }
  }
  return thirds;
}
constexpr std::array<Third, kThirds> kThirdsOfBlock = MakeThirds();
static_assert(kThirds == 3, "HalveRow does a block in three thirds");
// Every load stays inside the block's 32 source pixels.
static_assert(kThirdsOfBlock[kThirds - 1].load + 2 * kLaneBytes - 1 == SourceByte(kBlockBytes - 1),
              "no load past the block's last taken byte");
constexpr bool TwoLoadsAThird() {
  for (int j = 0; j < kBlockBytes; ++j) {
    const int at = SourceByte(j) - kThirdsOfBlock[j / kLaneBytes].load;
    if (at < 0 || at >= 2 * kLaneBytes) return false;
  }
  return true;
}
static_assert(TwoLoadsAThird(), "each third's bytes within its two loads");

}  // namespace
}  // namespace tiko

TIKO_TARGET_SSE41_BEGIN
namespace tiko::x86_sse41 {
namespace {

// One third of a block: two loads, two shuffles.
template <int T>
inline void HalveThird(const uint8_t* from, __m128i low, __m128i high, uint8_t* to) {
  constexpr int kLoad = kThirdsOfBlock[T].load;
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + kLoad));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + kLoad + kLaneBytes));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(to + T * kLaneBytes),
                   _mm_or_si128(_mm_shuffle_epi8(a, low), _mm_shuffle_epi8(b, high)));
}

inline __m128i Table(const std::array<int8_t, kLaneBytes>& table) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(table.data()));
}

void HalveRow(const uint8_t* in, int32_t pixels, uint8_t* out) {
  const __m128i low0 = Table(kThirdsOfBlock[0].low), high0 = Table(kThirdsOfBlock[0].high);
  const __m128i low1 = Table(kThirdsOfBlock[1].low), high1 = Table(kThirdsOfBlock[1].high);
  const __m128i low2 = Table(kThirdsOfBlock[2].low), high2 = Table(kThirdsOfBlock[2].high);
  const auto block = [&](const uint8_t* from, uint8_t* to) {
    HalveThird<0>(from, low0, high0, to);
    HalveThird<1>(from, low1, high1, to);
    HalveThird<2>(from, low2, high2, to);
  };
  if (pixels >= kBlockPixels) {
    int32_t column = 0;
    for (; column + kBlockPixels <= pixels; column += kBlockPixels) {
      block(in + size_t(column) * 2 * kPixelBytes, out + size_t(column) * kPixelBytes);
    }
    // A last part block is done again from the end, over pixels already
    // written with the same bytes.
    if (column < pixels) {
      column = pixels - kBlockPixels;
      block(in + size_t(column) * 2 * kPixelBytes, out + size_t(column) * kPixelBytes);
    }
    return;
  }
  for (int32_t column = 0; column < pixels; ++column) {
    out[0] = in[0];
    out[1] = in[1];
    out[2] = in[2];
    out += kPixelBytes;
    in += 2 * kPixelBytes;
  }
}

}  // namespace
const HalveRowKernel kHalveRow = HalveRow;
}  // namespace tiko::x86_sse41
TIKO_TARGET_END

#endif  // TIKO_SIMD_X86

namespace tiko {

HalveRowKernel HalveRowX86(int32_t set) {
#if TIKO_SIMD_X86
  if (set == kKernelsSse41 || set == kKernelsAvx2) return x86_sse41::kHalveRow;
#endif
  (void)set;
  return nullptr;
}

}  // namespace tiko
