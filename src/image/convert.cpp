#include "image/convert.h"

#include <cstring>

#include "image/kernel_set.h"
#include "image/layout.h"
#include "package/heap.h"

namespace tiko {
namespace {

// Colour equations, in binary64 with every operation rounded on its own (the
// build forbids contraction into fused multiply-adds), so each compiler and
// target stores the same bytes.
constexpr double kLumaRed = 0.299;
constexpr double kLumaGreen = 0.587;
constexpr double kLumaBlue = 0.114;
constexpr double kBlueDifference = 0.565;
constexpr double kRedDifference = 0.713;
constexpr double kRedFromV = 1.403;
constexpr double kGreenFromU = 0.344;
constexpr double kGreenFromV = 0.714;  // not the 0.713 of the encoding side
constexpr double kBlueFromU = 1.77;
constexpr int32_t kChromaOffset = 128;
constexpr double kHalf = 0.5;
constexpr int32_t kByteMax = 255;

// Pair means are kept as (U, V) doubles side by side.
constexpr int32_t kMeansPerPair = 2;

struct Colour {
  double y;
  double u;  // colour differences from the unrounded Y
  double v;
};

struct ChromaPair {
  double u;
  double v;
};

Colour ToYuv(const uint8_t* bgr) {
  const double b = bgr[0];
  const double g = bgr[1];
  const double r = bgr[2];
  const double y = kLumaRed * r + kLumaGreen * g + kLumaBlue * b;
  return Colour{y, kBlueDifference * (b - y), kRedDifference * (r - y)};
}

// Y lies in 0..255, so the conversion rounds halves up.
uint8_t LumaByte(double y) { return static_cast<uint8_t>(static_cast<int32_t>(y + kHalf)); }

// The cast truncates toward zero, so negative differences round toward zero
// after the half is added (-3.4 -> 126). Pure blue reaches 256; it is stored as
// the nearest byte, 255, and not wrapped to a dark green 0.
uint8_t ChromaByte(double c) {
  const int32_t value = static_cast<int32_t>(c + kHalf) + kChromaOffset;
  if (value > kByteMax) return kByteMax;
  if (value < 0) return 0;
  return static_cast<uint8_t>(value);
}

uint8_t ClampedByte(double value) {
  if (value < 0.0) value = 0.0;
  if (value > kByteMax) value = kByteMax;
  return static_cast<uint8_t>(static_cast<int32_t>(value + kHalf));
}

void ToBgr(uint8_t luma, uint8_t u, uint8_t v, uint8_t* bgr) {
  const double y = luma;
  const double du = static_cast<double>(int32_t{u} - kChromaOffset);
  const double dv = static_cast<double>(int32_t{v} - kChromaOffset);
  bgr[0] = ClampedByte(y + kBlueFromU * du);
  bgr[1] = ClampedByte(y - kGreenFromU * du - kGreenFromV * dv);
  bgr[2] = ClampedByte(y + kRedFromV * dv);
}

// The Y bytes of column pair x / 2 of a BGR row for 4:2:0 and its pair means:
// the mean of the two pixels, or the last pixel itself (not halved) at an odd
// width.
ChromaPair PairMeans(const uint8_t* bgr, int32_t x, int32_t width, uint8_t* luma) {
  const Colour left = ToYuv(bgr + size_t(x) * kBgrBytesPerPixel);
  luma[x] = LumaByte(left.y);
  if (x + 1 >= width) return ChromaPair{left.u, left.v};
  const Colour right = ToYuv(bgr + size_t(x + 1) * kBgrBytesPerPixel);
  luma[x + 1] = LumaByte(right.y);
  return ChromaPair{(left.u + right.u) * kHalf, (left.v + right.v) * kHalf};
}

// The frame shared by the direct conversions: the new block with the
// transparency plane already in place behind `targetPixelSize` bytes, or null
// (nothing changed) when the image cannot be converted or the block not had.
uint8_t* BeginConversion(const Image& image, uint8_t source, uint8_t target, int32_t* targetPixelSize) {
  if (image.pixelFormat != source || image.data == nullptr || !HasLayoutSizes(image)) return nullptr;
  const int64_t pixels = PixelDataSize(target, image.width, image.height);
  if (pixels == kNoSize || pixels + image.maskDataSize > kMaxDataSize) return nullptr;
  const size_t total = size_t(pixels) + size_t(image.maskDataSize);
  uint8_t* block = static_cast<uint8_t*>(MemAlloc(total, 0));
  if (block == nullptr) return nullptr;
  if (image.maskDataSize != 0) {
    std::memcpy(block + pixels, image.data + image.pixelDataSize, size_t(image.maskDataSize));
  }
  *targetPixelSize = static_cast<int32_t>(pixels);
  return block;
}

void FinishConversion(Image* image, uint8_t* block, int32_t pixelSize, uint8_t target) {
  uint8_t* old = image->data;
  image->data = block;
  image->pixelDataSize = pixelSize;
  image->totalSize = pixelSize + image->maskDataSize;
  image->pixelFormat = target;
  MemFree(old);
}

int32_t FromBgr(Image* image, uint8_t format) {
  switch (format) {
    case kFormatBgr24:
      return 1;
    case kFormatYuv422:
      return BgrToYuv422(image);
    case kFormatYuv420:
      return BgrToYuv420(image);
    default:
      return 0;
  }
}

}  // namespace

void BgrRowToYuv422Ref(const uint8_t* bgr, int32_t width, uint8_t* yuv) {
  for (int32_t x = 0; x < width; x += 2) {
    // Column 2k alone gives the group's colour; column 2k + 1 only its Y.
    const Colour left = ToYuv(bgr + size_t(x) * kBgrBytesPerPixel);
    uint8_t* group = yuv + size_t(x) * 2;
    group[0] = LumaByte(left.y);
    group[1] = ChromaByte(left.u);
    group[2] = x + 1 < width ? LumaByte(ToYuv(bgr + size_t(x + 1) * kBgrBytesPerPixel).y) : group[0];
    group[3] = ChromaByte(left.v);
  }
}

void Yuv422RowToBgrRef(const uint8_t* yuv, int32_t width, uint8_t* bgr) {
  for (int32_t x = 0; x < width; ++x) {
    const uint8_t* group = yuv + size_t(x / 2) * kBytesPerGroup;
    ToBgr(yuv[size_t(x) * 2], group[1], group[3], bgr + size_t(x) * kBgrBytesPerPixel);
  }
}

void BgrEvenRowToYuv420Ref(const uint8_t* bgr, int32_t width, uint8_t* luma, double* pairMeans) {
  for (int32_t x = 0; x < width; x += 2) {
    const ChromaPair mean = PairMeans(bgr, x, width, luma);
    pairMeans[x] = mean.u;  // pair x / 2 sits at doubles x and x + 1
    pairMeans[x + 1] = mean.v;
  }
}

void BgrOddRowToYuv420Ref(const uint8_t* bgr, int32_t width, const double* pairMeans, uint8_t* luma,
                          uint8_t* u, uint8_t* v) {
  for (int32_t x = 0; x < width; x += 2) {
    const ChromaPair mean = PairMeans(bgr, x, width, luma);
    // Averaged in double with the kept row and rounded only here.
    u[x / 2] = ChromaByte((mean.u + pairMeans[x]) * kHalf);
    v[x / 2] = ChromaByte((mean.v + pairMeans[x + 1]) * kHalf);
  }
}

void MeansToChromaRef(const double* pairMeans, int32_t chromaWidth, uint8_t* u, uint8_t* v) {
  for (int32_t k = 0; k < chromaWidth; ++k) {
    u[k] = ChromaByte(pairMeans[size_t(k) * kMeansPerPair]);
    v[k] = ChromaByte(pairMeans[size_t(k) * kMeansPerPair + 1]);
  }
}

void Yuv420RowToBgrRef(const uint8_t* luma, const uint8_t* u, const uint8_t* v, int32_t width, uint8_t* bgr) {
  for (int32_t x = 0; x < width; ++x) {
    ToBgr(luma[x], u[x / 2], v[x / 2], bgr + size_t(x) * kBgrBytesPerPixel);
  }
}

void BgrRowPairToYuv420Ref(const uint8_t* row0, const uint8_t* row1, int32_t width, double* pairMeans,
                           uint8_t* luma0, uint8_t* luma1, uint8_t* u, uint8_t* v) {
  BgrEvenRowToYuv420Ref(row0, width, luma0, pairMeans);
  if (row1 != nullptr) {
    BgrOddRowToYuv420Ref(row1, width, pairMeans, luma1, u, v);
  } else {
    MeansToChromaRef(pairMeans, ChromaWidth(width), u, v);
  }
}

namespace {
constexpr ConvertKernels kConvertKernelsRef = {BgrRowToYuv422Ref, Yuv422RowToBgrRef, BgrRowPairToYuv420Ref,
                                               Yuv420RowToBgrRef};
}  // namespace

const ConvertKernels& ConvertKernelsOf(int32_t set) {
  return ChooseKernels(set, kConvertKernelsRef, ConvertKernelsX86);
}

namespace {

// The 4:2:2 conversions, one row of `from` to one row of `to` at a time.
using RowKernel = void (*)(const uint8_t* in, int32_t width, uint8_t* out);

int32_t ConvertRowByRow(Image* image, uint8_t from, uint8_t to, RowKernel ConvertKernels::*kernel) {
  int32_t pixelSize = 0;
  uint8_t* block = BeginConversion(*image, from, to, &pixelSize);
  if (block == nullptr) return 0;
  const size_t inRow = size_t(RowSize(from, image->width));
  const size_t outRow = size_t(RowSize(to, image->width));
  const RowKernel row = ConvertKernelsOf(ActiveKernelSet()).*kernel;
  for (int32_t y = 0; y < image->height; ++y) row(image->data + y * inRow, image->width, block + y * outRow);
  FinishConversion(image, block, pixelSize, to);
  return 1;
}

}  // namespace

int32_t BgrToYuv422(Image* image) {
  return ConvertRowByRow(image, kFormatBgr24, kFormatYuv422, &ConvertKernels::bgrRowToYuv422);
}

int32_t Yuv422ToBgr(Image* image) {
  return ConvertRowByRow(image, kFormatYuv422, kFormatBgr24, &ConvertKernels::yuv422RowToBgr);
}

int32_t BgrToYuv420(Image* image) {
  int32_t pixelSize = 0;
  uint8_t* block = BeginConversion(*image, kFormatBgr24, kFormatYuv420, &pixelSize);
  if (block == nullptr) return 0;
  const int32_t width = image->width;
  const int32_t height = image->height;
  const size_t chromaWidth = size_t(ChromaWidth(width));
  // One (U, V) pair of doubles per chroma column keeps the even row's means.
  double* pairMeans = static_cast<double*>(MemAlloc(chromaWidth * kMeansPerPair * sizeof(double), 0));
  if (pairMeans == nullptr) {
    MemFree(block);
    return 0;
  }
  const size_t inRow = size_t(RowSize(kFormatBgr24, width));
  const size_t lumaSize = size_t(width) * size_t(height);
  const size_t chromaSize = chromaWidth * size_t(ChromaHeight(height));
  uint8_t* luma = block;
  uint8_t* u = block + lumaSize;
  uint8_t* v = u + chromaSize;
  const ConvertKernels& kernels = ConvertKernelsOf(ActiveKernelSet());
  // One chroma row per pair of pixel rows; an odd height ends with a row of
  // its own.
  for (int32_t y = 0; y < height; y += 2) {
    const size_t chromaRow = size_t(y / 2) * chromaWidth;
    const bool pair = y + 1 < height;
    kernels.bgrRowPairToYuv420(image->data + y * inRow, pair ? image->data + (y + 1) * inRow : nullptr, width,
                               pairMeans, luma + size_t(y) * size_t(width),
                               pair ? luma + size_t(y + 1) * size_t(width) : nullptr, u + chromaRow, v + chromaRow);
  }
  MemFree(pairMeans);
  FinishConversion(image, block, pixelSize, kFormatYuv420);
  return 1;
}

int32_t Yuv420ToBgr(Image* image) {
  int32_t pixelSize = 0;
  uint8_t* block = BeginConversion(*image, kFormatYuv420, kFormatBgr24, &pixelSize);
  if (block == nullptr) return 0;
  const int32_t width = image->width;
  const int32_t height = image->height;
  const size_t chromaWidth = size_t(ChromaWidth(width));
  const size_t lumaSize = size_t(width) * size_t(height);
  const size_t chromaSize = chromaWidth * size_t(ChromaHeight(height));
  const uint8_t* luma = image->data;
  const uint8_t* u = luma + lumaSize;
  const uint8_t* v = u + chromaSize;
  const size_t outRow = size_t(RowSize(kFormatBgr24, width));
  const ConvertKernels& kernels = ConvertKernelsOf(ActiveKernelSet());
  for (int32_t y = 0; y < height; ++y) {
    // Each chroma row serves two pixel rows (one at an odd height's end).
    const size_t chromaRow = size_t(y / 2) * chromaWidth;
    kernels.yuv420RowToBgr(luma + size_t(y) * size_t(width), u + chromaRow, v + chromaRow, width, block + y * outRow);
  }
  FinishConversion(image, block, pixelSize, kFormatBgr24);
  return 1;
}

int32_t ConvertImage(Image* image, uint8_t format) {
  if (image == nullptr) return 0;
  if (format == image->pixelFormat) return 1;
  switch (image->pixelFormat) {
    case kFormatBgr24:
      return FromBgr(image, format);
    // There is no direct path between the two YUV layouts: the values are
    // rounded to BGR24 bytes on the way, and a second step that fails leaves
    // the picture valid in BGR24.
    case kFormatYuv422:
      return Yuv422ToBgr(image) != 0 ? FromBgr(image, format) : 0;
    case kFormatYuv420:
      return Yuv420ToBgr(image) != 0 ? FromBgr(image, format) : 0;
    default:
      return 0;
  }
}

}  // namespace tiko
