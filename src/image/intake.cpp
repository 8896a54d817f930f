#include "image/intake.h"

#include "image/kernel_set.h"

namespace tiko {
namespace {

constexpr size_t kPixelBytes = 3;

constexpr IntakeKernels kIntakeKernelsRef = {HalveRowRef};

}  // namespace

void HalveRowRef(const uint8_t* in, int32_t pixels, uint8_t* out) {
  for (int32_t column = 0; column < pixels; ++column) {
    out[0] = in[0];
    out[1] = in[1];
    out[2] = in[2];
    out += kPixelBytes;
    in += 2 * kPixelBytes;
  }
}

const IntakeKernels& IntakeKernelsOf(int32_t set) { return ChooseKernels(set, kIntakeKernelsRef, IntakeKernelsX86); }

void HalveBgrFrame(const uint8_t* source, size_t sourceRowBytes, int32_t width, int32_t height, uint8_t* out) {
  if (width <= 0 || height <= 0) return;
  const IntakeKernels& kernels = IntakeKernelsOf(ActiveKernelSet());
  const size_t outRowBytes = size_t(width) * kPixelBytes;
  for (int32_t r = 0; r < height; ++r) {
    kernels.halveRow(source + size_t(r) * 2 * sourceRowBytes, width, out + size_t(r) * outRowBytes);
  }
}

}  // namespace tiko
