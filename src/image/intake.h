// Frame intake: the host frame taken into the player's frame before the scene
// is drawn over it. A copy at the same size is memcpy; a 640 x 480 frame for a
// 320 x 240 player is halved, one pixel taken and one skipped across, one row
// taken and one skipped down.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tiko {

// Writes a width x height BGR24 frame to `out` (rows packed) from pixels
// (2c, 2r) of `source`, whose rows are `sourceRowBytes` apart, with the kernel
// set in use. The source must hold 2 x height - 1 rows of at least
// 2 x width - 1 pixels. Writes nothing for a width or height of 0 or less.
void HalveBgrFrame(const uint8_t* source, size_t sourceRowBytes, int32_t width, int32_t height, uint8_t* out);

// Row kernel: `pixels` output pixels from every second pixel of `in`, which
// must hold 2 x pixels - 1 of them.
void HalveRowRef(const uint8_t* in, int32_t pixels, uint8_t* out);

// A set of intake kernels with the signature of the reference above; every
// set gives the reference's bytes.
struct IntakeKernels {
  void (*halveRow)(const uint8_t* in, int32_t pixels, uint8_t* out);
};

// The kernels of a kernel set (image/kernel_set.h): the references for the
// scalar set and for any set this build or processor does not have.
const IntakeKernels& IntakeKernelsOf(int32_t set);

// The x86 sets (intake_x86.cpp); null for a set that is not built in.
const IntakeKernels* IntakeKernelsX86(int32_t set);

}  // namespace tiko
