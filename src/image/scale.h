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

// One destination row of interpolated samples: `channels` bytes per pixel,
// pixels `stride` bytes apart in the rows and in the output. The two source
// rows weigh `weightLow` and `weightHigh`, which sum to the destination height;
// each value is rounded down after half the weight total is added.
void InterpolateRow_Ref(const uint8_t* rowLow, const uint8_t* rowHigh, int32_t sourceWidth, int32_t width,
                        int64_t weightLow, int64_t weightHigh, int32_t channels, int32_t stride, uint8_t* out);

}  // namespace tiko
