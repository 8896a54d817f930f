// Frame intake: the host frame taken into the player's frame before the scene
// is drawn over it. A copy at the same size is memcpy; a 640 x 480 frame for a
// 320 x 240 player is halved, one pixel taken and one skipped across, one row
// taken and one skipped down.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tiko {

// Writes a width x height BGR24 frame to `out` (rows packed) from pixels
// (2c, 2r) of `source`, whose rows are `sourceRowBytes` apart. The source must
// hold 2 x height - 1 rows of at least 2 x width - 1 pixels.
void HalveBgrFrame(const uint8_t* source, size_t sourceRowBytes, int32_t width, int32_t height, uint8_t* out);

// The plain reference: pixel by pixel.
void HalveBgrFrameRef(const uint8_t* source, size_t sourceRowBytes, int32_t width, int32_t height, uint8_t* out);

// The same under a given kernel set (tests and benchmarks); a set the
// processor does not run gives the reference.
void HalveBgrFrameWith(int32_t set, const uint8_t* source, size_t sourceRowBytes, int32_t width, int32_t height,
                       uint8_t* out);

// One row of the halving for the x86 sets, or null for a set without one:
// `pixels` output pixels from every second pixel of `in`.
using HalveRowKernel = void (*)(const uint8_t* in, int32_t pixels, uint8_t* out);
HalveRowKernel HalveRowX86(int32_t set);

}  // namespace tiko
