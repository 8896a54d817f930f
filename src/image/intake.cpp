#include "image/intake.h"

#include "image/kernel_set.h"

namespace tiko {
namespace {

constexpr size_t kPixelBytes = 3;

void HalveRowRef(const uint8_t* in, int32_t pixels, uint8_t* out) {
  for (int32_t column = 0; column < pixels; ++column) {
    out[0] = in[0];
    out[1] = in[1];
    out[2] = in[2];
    out += kPixelBytes;
    in += 2 * kPixelBytes;
  }
}

void HalveWith(HalveRowKernel row, const uint8_t* source, size_t sourceRowBytes, int32_t width, int32_t height,
               uint8_t* out) {
  if (width <= 0 || height <= 0) return;
  const size_t outRowBytes = size_t(width) * kPixelBytes;
  for (int32_t r = 0; r < height; ++r) {
    row(source + size_t(r) * 2 * sourceRowBytes, width, out + size_t(r) * outRowBytes);
  }
}

}  // namespace

void HalveBgrFrameRef(const uint8_t* source, size_t sourceRowBytes, int32_t width, int32_t height, uint8_t* out) {
  HalveWith(HalveRowRef, source, sourceRowBytes, width, height, out);
}

void HalveBgrFrameWith(int32_t set, const uint8_t* source, size_t sourceRowBytes, int32_t width, int32_t height,
                       uint8_t* out) {
  const HalveRowKernel fast = KernelSetSupported(set) ? HalveRowX86(set) : nullptr;
  HalveWith(fast != nullptr ? fast : HalveRowRef, source, sourceRowBytes, width, height, out);
}

void HalveBgrFrame(const uint8_t* source, size_t sourceRowBytes, int32_t width, int32_t height, uint8_t* out) {
  HalveBgrFrameWith(ActiveKernelSet(), source, sourceRowBytes, width, height, out);
}

}  // namespace tiko
