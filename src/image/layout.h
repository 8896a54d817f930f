// Size rules of the three pixel layouts and of the transparency plane. Every
// size is worked out in 64 bits from non-negative dimensions, so a caller can
// tell a size that does not fit the signed 32-bit fields of an Image from one
// that does before anything is allocated for it.
#pragma once

#include <cstdint>

#include "package/records.h"

namespace tiko {

// The largest data size an Image can describe.
inline constexpr int64_t kMaxDataSize = INT32_MAX;
// What the size rules give for negative dimensions, an unknown layout, or a
// size above kMaxDataSize.
inline constexpr int64_t kNoSize = -1;

// 4:2:2 rows hold one group of four bytes per two columns.
inline constexpr int32_t kBytesPerGroup = 4;
inline constexpr int32_t kBgrBytesPerPixel = 3;

bool IsPixelFormat(uint8_t format);
bool IsMaskKind(uint8_t maskKind);

// Chroma samples across and down a 4:2:0 picture, and 4:2:2 groups per row:
// one per two pixels, the last one covering a single pixel at an odd size.
constexpr int32_t ChromaWidth(int32_t width) { return static_cast<int32_t>((int64_t{width} + 1) / 2); }
constexpr int32_t ChromaHeight(int32_t height) { return static_cast<int32_t>((int64_t{height} + 1) / 2); }

// Bytes of one row of pixel data: w x 3 for BGR24, the groups of 4:2:2, the Y
// row of 4:2:0. kNoSize as above.
int64_t RowSize(uint8_t format, int32_t width);

// Bytes of pixel data of a width x height picture in `format`:
// BGR24 w x h x 3, 4:2:2 ((w + 1) / 2) x 4 x h, 4:2:0 w x h + 2 x cw x ch.
int64_t PixelDataSize(uint8_t format, int32_t width, int32_t height);

// Bytes of the transparency plane: (kind x w x h + 7) / 8, which is 0, one bit
// or one byte per pixel for the kinds 0, 1 and 8. Any kind is sized by the
// same rule, so a plane of an unknown kind still has a definite size.
int64_t MaskDataSize(uint8_t maskKind, int32_t width, int32_t height);

// True when the image's pixel, mask and total sizes are exactly those of its
// width, height, layout and mask kind, so its data can be walked by the rules.
bool HasLayoutSizes(const Image& image);

}  // namespace tiko
