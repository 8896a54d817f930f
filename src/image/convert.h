// Conversions between the three pixel layouts. Each works in place on an
// Image: it builds the whole new block (pixels in the target layout, then the
// transparency plane unchanged) before it gives back the old one, so a failure
// leaves the picture exactly as it was.
#pragma once

#include <cstdint>

#include "package/records.h"

namespace tiko {

// Converts `image` to `format`. Returns 1 at once when it is already in that
// layout (whatever the code), else runs the direct conversion, or for 4:2:2 <->
// 4:2:0 two of them through BGR24. A first step that fails leaves the image
// unchanged; a second step that fails leaves it valid in BGR24. Returns 1 on
// success, 0 on failure (including every unknown code).
int32_t ConvertImage(Image* image, uint8_t format);

// The direct conversions. Each returns 0 and changes nothing when the image is
// not loaded, not in the source layout, its sizes disagree with the layout
// rules, or an allocation fails.
int32_t BgrToYuv422(Image* image);
int32_t Yuv422ToBgr(Image* image);
int32_t BgrToYuv420(Image* image);
int32_t Yuv420ToBgr(Image* image);

// Row kernels: the scalar references that define every output byte. Faster
// versions must give the same bytes and are tested against these.

// One BGR24 row of `width` pixels to one 4:2:2 row. The byte of the last group
// that belongs to no pixel (odd width) gets the Y of the last pixel, so the
// output never carries uninitialised memory.
void BgrRowToYuv422Ref(const uint8_t* bgr, int32_t width, uint8_t* yuv);
void Yuv422RowToBgrRef(const uint8_t* yuv, int32_t width, uint8_t* bgr);

// 4:2:0 encoding of one pair of pixel rows. The even row writes its Y bytes
// and keeps the (U, V) pair means of each column pair in `pairMeans`
// (2 x ChromaWidth(width) doubles); the odd row writes its Y bytes and one row
// of U and V bytes from its own pair means and the kept ones. A picture of odd
// height ends with MeansToChromaRef on the last even row's means.
void BgrEvenRowToYuv420Ref(const uint8_t* bgr, int32_t width, uint8_t* luma, double* pairMeans);
void BgrOddRowToYuv420Ref(const uint8_t* bgr, int32_t width, const double* pairMeans, uint8_t* luma,
                          uint8_t* u, uint8_t* v);
void MeansToChromaRef(const double* pairMeans, int32_t chromaWidth, uint8_t* u, uint8_t* v);
void Yuv420RowToBgrRef(const uint8_t* luma, const uint8_t* u, const uint8_t* v, int32_t width, uint8_t* bgr);

// 4:2:0 encoding of pixel rows 2m (row0) and 2m + 1 (row1) into their Y rows
// and chroma row m: the even row's kernel, then the odd row's with the kept
// means, or for a last row of its own (row1 null) the means rounded alone.
// `pairMeans` is the even row's keeping place, 2 x ChromaWidth(width) doubles.
void BgrRowPairToYuv420Ref(const uint8_t* row0, const uint8_t* row1, int32_t width, double* pairMeans,
                           uint8_t* luma0, uint8_t* luma1, uint8_t* u, uint8_t* v);

// A set of row kernels with the signatures of the references above; every set
// gives the references' bytes. A fast pair kernel may keep its means elsewhere
// than in pairMeans.
struct ConvertKernels {
  void (*bgrRowToYuv422)(const uint8_t* bgr, int32_t width, uint8_t* yuv);
  void (*yuv422RowToBgr)(const uint8_t* yuv, int32_t width, uint8_t* bgr);
  void (*bgrRowPairToYuv420)(const uint8_t* row0, const uint8_t* row1, int32_t width, double* pairMeans,
                             uint8_t* luma0, uint8_t* luma1, uint8_t* u, uint8_t* v);
  void (*yuv420RowToBgr)(const uint8_t* luma, const uint8_t* u, const uint8_t* v, int32_t width, uint8_t* bgr);
};

// The kernels of a kernel set (image/kernel_set.h): the references for the
// scalar set and for any set this build or processor does not have.
const ConvertKernels& ConvertKernelsOf(int32_t set);

// The x86 sets (convert_x86.cpp); null for a set that is not built in.
const ConvertKernels* ConvertKernelsX86(int32_t set);

}  // namespace tiko
