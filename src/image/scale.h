// Rescaling a picture to a new size in pixels: integer bilinear interpolation
// of the BGR24 colour bytes and of the Y bytes of the YUV layouts; chroma and
// the transparency plane come from the nearest source sample.
#pragma once

#include <cstdint>

#include "package/records.h"

namespace tiko {

// Brings `image` (a picture of `package`, loaded) to width x height. With
// makeCopy 0 the image itself is rescaled and returned; otherwise a new Image
// is returned that the caller owns (data block, then record, with MemFree) and
// the image keeps its size and data. A picture smaller than its stored picture
// in either dimension is first reloaded through FetchPicture so quality never
// degrades over repeated resizes.
//
// Returns none when the size is already the requested one, when either
// requested dimension is negative, when a source without pixels would have to
// fill a picture with pixels, when the reload fails (the image is then left not
// loaded), or when memory runs out (the image stays valid). A width or height
// of 0 gives an empty picture with data sizes 0.
Image* ResizeImage(Package* package, Image* image, int32_t width, int32_t height, int32_t makeCopy);

// Fill the destination's pixel data and transparency plane from the source,
// both records in the same layout with sizes by the layout rules; the
// destination's plane must be zero-filled. They allocate nothing and return 1.
int32_t ScaleBgr24(const Image* source, Image* destination);
int32_t ScaleYuv422(const Image* source, Image* destination);
int32_t ScaleYuv420(const Image* source, Image* destination);

// Where destination sample `index` of an axis of `destination` samples takes
// its two source neighbours from, out of `source` samples: `low` = index x
// source / destination, `fraction` the remainder, and `high` the next sample,
// except that it stays on `low` when the remainder is exactly 1, and that it
// never passes the last source sample.
struct AxisSample {
  int32_t low;
  int32_t high;
  int64_t fraction;
};
AxisSample MapAxis(int32_t index, int32_t source, int32_t destination);

// Walks an axis one destination sample after the other with the samples of
// MapAxis, adding instead of dividing.
struct AxisWalk {
  int32_t source;
  int32_t destination;
  int32_t low;
  int64_t fraction;
  int32_t wholeStep;     // source / destination
  int64_t fractionStep;  // source % destination
};
inline AxisWalk StartAxisWalk(int32_t index, int32_t source, int32_t destination) {
  const int64_t position = int64_t{index} * source;
  return AxisWalk{source,
                  destination,
                  static_cast<int32_t>(position / destination),
                  position % destination,
                  source / destination,
                  source % destination};
}
inline AxisSample WalkSample(const AxisWalk& walk) {
  AxisSample sample{walk.low, walk.low + 1, walk.fraction};
  if (walk.fraction == 1) sample.high = walk.low;  // the rule of MapAxis
  if (sample.high > walk.source - 1) sample.high = walk.source - 1;
  return sample;
}
inline void AdvanceAxisWalk(AxisWalk* walk) {
  walk->low += walk->wholeStep;
  walk->fraction += walk->fractionStep;
  if (walk->fraction >= walk->destination) {
    walk->fraction -= walk->destination;
    ++walk->low;
  }
}

// One destination row of interpolated samples: `channels` bytes per pixel,
// pixels `stride` bytes apart in the rows and in the output. The two source
// rows weigh `weightLow` and `weightHigh`, which sum to the destination height;
// each value is rounded down after half the weight total is added.
void InterpolateRowRef(const uint8_t* rowLow, const uint8_t* rowHigh, int32_t sourceWidth, int32_t width,
                       int64_t weightLow, int64_t weightHigh, int32_t channels, int32_t stride, uint8_t* out);

// The interpolated samples of a whole picture: `channels` bytes per pixel,
// pixels `stride` bytes apart (BGR24 3 and 3, a 4:2:0 Y plane 1 and 1, the Y
// bytes of 4:2:2 1 and 2). Destination row i is source rows MapAxis(i) through
// InterpolateRowRef. A faster kernel may also write the bytes between the
// samples of a destination row (4:2:2's chroma) and may read up to 31 bytes
// past a source sample as long as that stays within `sourceReadable` bytes.
struct PlaneScale {
  const uint8_t* source;
  int64_t sourceRowBytes;
  int32_t sourceWidth;
  int32_t sourceHeight;
  int64_t sourceReadable;
  uint8_t* destination;
  int64_t rowBytes;
  int32_t width;
  int32_t height;
  int32_t channels;
  int32_t stride;
};
void InterpolatePlaneRef(const PlaneScale& plane);

// Nearest-sample copies (the YUV layouts' chroma, the alpha plane):
// destination sample k of destination sample row m takes, for each picked byte
// of a sample, the same byte of source sample
// MapAxis(k x columnStep, sourceWidth, width).low / columnStep in source sample
// row MapAxis(m x rowStep, sourceHeight, height).low / rowStep. Samples are
// `stride` bytes apart; the picked bytes are `channels` bytes from
// `firstChannel` on, `channelStep` apart (a 4:2:0 chroma plane: 1 byte at 0 of
// 1, steps 2 and 2; 4:2:2: U and V at 1 and 3 of each 4-byte group, steps 2
// and 1; an alpha plane: 1 byte of 1, steps 1 and 1). A faster kernel may read
// up to 31 bytes past a source sample within `sourceReadable`.
struct PickScale {
  const uint8_t* source;
  int64_t sourceRowBytes;
  int64_t sourceReadable;
  int32_t sourceWidth;   // pixels
  int32_t sourceHeight;  // pixels
  uint8_t* destination;
  int64_t rowBytes;
  int32_t width;    // pixels
  int32_t height;   // pixels
  int32_t samples;  // destination samples per row
  int32_t rows;     // destination sample rows
  int32_t columnStep;  // pixel columns per sample
  int32_t rowStep;     // pixel rows per sample row
  int32_t stride;
  int32_t firstChannel;
  int32_t channels;
  int32_t channelStep;
};
void PickPlaneRef(const PickScale& pick);
void ScalePacked422Ref(const PlaneScale& luma, const PickScale& chroma);

// One destination row of a 1-bit transparency plane (bit k of a plane is bit
// k % 8 of byte k / 8): destination bit firstBit + j, for every j below
// `width`, takes source bit sourceFirstBit + MapAxis(j, sourceWidth,
// width).low; nothing is interpolated. Bits are only ever set, never cleared,
// as the destination plane starts zero-filled; a faster kernel may rewrite
// the other bits of the bytes the row touches with their own values.
void ScaleBitRowRef(const uint8_t* source, uint64_t sourceFirstBit, int32_t sourceWidth, uint8_t* destination,
                    uint64_t firstBit, int32_t width);

// Division by a constant as a multiply and a shift: numerator x multiplier >>
// shift. FindReciprocal gives one that is exact for every numerator from 0 to
// maxNumerator and returns 1, or 0 when none with a 32-bit multiplier is exact
// over that range (then divide). The proof: with e = multiplier x divisor -
// 2^shift (0 <= e < divisor) and n = q x divisor + r, n x multiplier / 2^shift
// = n / divisor + n x e / (divisor x 2^shift), and n x e < 2^shift keeps that
// below q + (r + 1) / divisor <= q + 1, so its floor is q.
struct Reciprocal {
  uint32_t multiplier;
  int32_t shift;
};
int32_t FindReciprocal(uint64_t divisor, uint64_t maxNumerator, Reciprocal* reciprocal);
constexpr uint64_t DivideByReciprocal(uint64_t numerator, Reciprocal reciprocal) {
  return numerator * reciprocal.multiplier >> reciprocal.shift;
}

// A set of rescaling kernels; every set gives the references' bytes.
struct ScaleKernels {
  void (*interpolatePlane)(const PlaneScale& plane);
  void (*pickPlane)(const PickScale& pick);
  // A 4:2:2 picture: its Y bytes, then its chroma (ScalePacked422Ref).
  void (*scalePacked422)(const PlaneScale& luma, const PickScale& chroma);
  void (*scaleBitRow)(const uint8_t* source, uint64_t sourceFirstBit, int32_t sourceWidth, uint8_t* destination,
                      uint64_t firstBit, int32_t width);
};

// The kernels of a kernel set (image/kernel_set.h): the references for the
// scalar set and for any set this build or processor does not have.
const ScaleKernels& ScaleKernelsOf(int32_t set);

// The x86 sets (scale_x86.cpp); null for a set that is not built in.
const ScaleKernels* ScaleKernelsX86(int32_t set);

}  // namespace tiko
