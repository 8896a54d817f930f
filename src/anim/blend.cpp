#include "anim/blend.h"

#include <algorithm>
#include <cstring>

#include "image/kernel_set.h"

namespace tiko {
namespace {

// Weights are on a scale of 128: at 128 and above the pixel is copied.
constexpr int32_t kFullWeight = 128;
// An opacity weight above this copies every pixel that any plane lets through
// at all (an alpha byte of 1 gives 1 x 128 x 128 / 128 = 128), so larger ones
// are cut to it; alpha x weight then never overflows.
constexpr int32_t kMaxOpacityWeight = kFullWeight * kFullWeight;

constexpr BlendKernels kBlendKernelsRef = {BlendRowBitsRef, BlendRowAlphaRef, BlendRowOpaqueRef};

inline void BlendPixel(const uint8_t* src, int32_t weight, uint8_t* dst) {
  if (weight >= kFullWeight) {
    dst[0] = src[0];
    dst[1] = src[1];
    dst[2] = src[2];
  } else if (weight > 0) {
    // Truncation toward zero moves every result toward dst, from either side.
    for (int k = 0; k < 3; ++k) dst[k] = static_cast<uint8_t>(dst[k] + (src[k] - dst[k]) * weight / kFullWeight);
  }
}

}  // namespace

void BlendRowBitsRef(const uint8_t* src, const uint8_t* plane, uint64_t firstBit, int32_t count, int32_t weight,
                     uint8_t* dst) {
  for (int32_t i = 0; i < count; ++i) {
    const uint64_t bit = firstBit + static_cast<uint64_t>(i);
    if ((plane[bit / 8] >> (bit % 8)) & 1) BlendPixel(src + 3 * i, weight, dst + 3 * i);
  }
}

void BlendRowAlphaRef(const uint8_t* src, const uint8_t* alpha, int32_t count, int32_t weight, uint8_t* dst) {
  for (int32_t i = 0; i < count; ++i) BlendPixel(src + 3 * i, alpha[i] * weight / kFullWeight, dst + 3 * i);
}

void BlendRowOpaqueRef(const uint8_t* src, int32_t count, int32_t weight, uint8_t* dst) {
  if (weight >= kFullWeight) {
    std::memcpy(dst, src, size_t(count) * 3);
    return;
  }
  for (int32_t i = 0; i < count; ++i) BlendPixel(src + 3 * i, weight, dst + 3 * i);
}

const BlendKernels& BlendKernelsOf(int32_t set) { return ChooseKernels(set, kBlendKernelsRef, BlendKernelsX86); }

void BlendPicture(const Image* picture, uint8_t frameFormat, int32_t frameWidth, int32_t frameHeight,
                  uint8_t* frame, int32_t px, int32_t py, int32_t opacity) {
  if (opacity <= 0 || picture == nullptr) return;
  // A huge opacity wraps like the scripts' arithmetic; a weight of 0 or less
  // lets nothing through, whatever the plane says.
  const int32_t weight = std::min(OpacityWeight(opacity), kMaxOpacityWeight);
  if (weight <= 0) return;
  // Positions at or past the stage's own extent are never on screen, even on
  // a frame with more pixels than that.
  if (px >= kStageWidth || py >= kStageHeight) return;
  const int64_t w = picture->width;
  const int64_t h = picture->height;
  if (px + w <= 0 || py + h <= 0) return;
  const int64_t x0 = std::max<int64_t>(px, 0);
  const int64_t x1 = std::min<int64_t>(px + w, frameWidth);
  const int64_t y0 = std::max<int64_t>(py, 0);
  const int64_t y1 = std::min<int64_t>(py + h, frameHeight);
  if (x0 >= x1 || y0 >= y1) return;
  const uint8_t kind = picture->maskKind;
  if (kind != kMaskNone && kind != kMaskBit && kind != kMaskByte) return;
  if (frameFormat != kFormatBgr24) return;

  // The record must describe what its block holds; anything else is a picture
  // this compositor cannot draw safely.
  if (picture->data == nullptr || picture->pixelFormat != kFormatBgr24) return;
  const int64_t pixels = w * h;
  const int64_t planeBytes = (kind * pixels + 7) / 8;
  if (picture->pixelDataSize < pixels * 3 || picture->maskDataSize < planeBytes ||
      int64_t{picture->totalSize} < int64_t{picture->pixelDataSize} + planeBytes) {
    return;
  }

  const uint8_t* plane = picture->data + picture->pixelDataSize;
  const int32_t count = static_cast<int32_t>(x1 - x0);
  const BlendKernels& kernels = BlendKernelsOf(ActiveKernelSet());
  for (int64_t y = y0; y < y1; ++y) {
    const int64_t first = (y - py) * w + (x0 - px);  // picture pixel index of the row's first drawn pixel
    const uint8_t* src = picture->data + first * 3;
    uint8_t* dst = frame + (y * frameWidth + x0) * 3;
    switch (kind) {
      case kMaskBit:
        kernels.rowBits(src, plane, static_cast<uint64_t>(first), count, weight, dst);
        break;
      case kMaskByte:
        kernels.rowAlpha(src, plane + first, count, weight, dst);
        break;
      default:
        kernels.rowOpaque(src, count, weight, dst);
        break;
    }
  }
}

}  // namespace tiko
