// Drawing a picture into the frame with its transparency and opacity.
#pragma once

#include <cstdint>

#include "anim/wrap.h"
#include "package/records.h"

namespace tiko {

// Blends `picture` (BGR24, rows bottom line first like the frame) into the
// frame of frameWidth x frameHeight with its first pixel at column px, row py
// (either may be negative), at `opacity` percent. Draws nothing for a frame
// format other than BGR24, an unknown mask kind, an opacity of 0 or less, or a
// picture wholly outside the frame. A picture without a transparency plane is
// drawn as an opaque rectangle. Allocates nothing.
void BlendPicture(const Image* picture, uint8_t frameFormat, int32_t frameWidth, int32_t frameHeight,
                  uint8_t* frame, int32_t px, int32_t py, int32_t opacity);

// The opacity as a weight on the scale of 128 (wrapping like the scripts).
constexpr int32_t OpacityWeight(int32_t opacity) { return MulDiv32(opacity, 128, 100); }

// Row kernels: `count` pixels of src blended onto dst. The bit-plane kernel
// reads bits from `firstBit` on (bit i of byte i / 8, least significant first).
void BlendRowBitsRef(const uint8_t* src, const uint8_t* plane, uint64_t firstBit, int32_t count, int32_t weight,
                     uint8_t* dst);
void BlendRowAlphaRef(const uint8_t* src, const uint8_t* alpha, int32_t count, int32_t weight, uint8_t* dst);
void BlendRowOpaqueRef(const uint8_t* src, int32_t count, int32_t weight, uint8_t* dst);

// A set of row kernels with the signatures of the references above; every set
// gives the references' bytes.
struct BlendKernels {
  void (*rowBits)(const uint8_t* src, const uint8_t* plane, uint64_t firstBit, int32_t count, int32_t weight,
                  uint8_t* dst);
  void (*rowAlpha)(const uint8_t* src, const uint8_t* alpha, int32_t count, int32_t weight, uint8_t* dst);
  void (*rowOpaque)(const uint8_t* src, int32_t count, int32_t weight, uint8_t* dst);
};

// The kernels of a kernel set (image/kernel_set.h): the references for the
// scalar set and for any set this build or processor does not have.
const BlendKernels& BlendKernelsOf(int32_t set);

// The x86 sets (blend_x86.cpp); null for a set that is not built in.
const BlendKernels* BlendKernelsX86(int32_t set);

}  // namespace tiko
