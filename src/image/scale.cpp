#include "image/scale.h"

#include <cstring>

#include "image/layout.h"
#include "package/fetch.h"
#include "package/heap.h"

namespace tiko {
namespace {

// A remainder of exactly 1 keeps the second neighbour on the first one.
// Packages are drawn and checked against this look, so it stays, odd as it is.
constexpr int64_t kSameNeighbourRemainder = 1;

constexpr int32_t kBitsPerByte = 8;

// 4:2:2 group: Y of the even column, U, Y of the odd column, V.
constexpr int32_t kGroupU = 1;
constexpr int32_t kGroupOddY = 2;
constexpr int32_t kGroupV = 3;
constexpr int32_t kLumaStride422 = 2;

uint8_t* MaskPlane(const Image& image) { return image.data + image.pixelDataSize; }

// Destination row `row` takes the transparency of source row `sourceRow` at the
// nearest lower column; nothing is interpolated. A 1-bit plane only sets bits,
// relying on the zero-filled destination plane.
void ScaleMaskRow(const Image& source, Image* destination, int32_t row, int32_t sourceRow) {
  if (source.maskKind != kMaskBit && source.maskKind != kMaskByte) return;
  const uint8_t* in = MaskPlane(source);
  uint8_t* out = MaskPlane(*destination);
  const int64_t sourceBase = int64_t{sourceRow} * source.width;
  const int64_t base = int64_t{row} * destination->width;
  for (int32_t j = 0; j < destination->width; ++j) {
    const int64_t s = sourceBase + MapAxis(j, source.width, destination->width).low;
    const int64_t t = base + j;
    if (source.maskKind == kMaskByte) {
      out[t] = in[s];
    } else if ((in[s / kBitsPerByte] >> (s % kBitsPerByte)) & 1) {
      out[t / kBitsPerByte] = static_cast<uint8_t>(out[t / kBitsPerByte] | (1u << (t % kBitsPerByte)));
    }
  }
}

bool HasNoPixels(const Image& image) { return image.width <= 0 || image.height <= 0; }

}  // namespace

AxisSample MapAxis(int32_t index, int32_t source, int32_t destination) {
  const int64_t position = int64_t{index} * source;
  AxisSample sample;
  sample.low = static_cast<int32_t>(position / destination);
  sample.fraction = position % destination;
  sample.high = sample.fraction == kSameNeighbourRemainder ? sample.low : sample.low + 1;
  // Past the last sample (enlarging, or an unchanged axis with weight 0) the
  // last one stands in.
  if (sample.high > source - 1) sample.high = source - 1;
  return sample;
}

void InterpolateRow_Ref(const uint8_t* rowLow, const uint8_t* rowHigh, int32_t sourceWidth, int32_t width,
                        int64_t weightLow, int64_t weightHigh, int32_t channels, int32_t stride, uint8_t* out) {
  // The sums reach 256 x width x height; 64 bits hold them exactly.
  const int64_t total = int64_t{width} * (weightLow + weightHigh);
  const int64_t half = total / 2;
  for (int32_t j = 0; j < width; ++j) {
    const AxisSample column = MapAxis(j, sourceWidth, width);
    const int64_t weightLeft = width - column.fraction;
    const int64_t weightRight = column.fraction;
    const uint8_t* p00 = rowLow + size_t(column.low) * size_t(stride);
    const uint8_t* p01 = rowLow + size_t(column.high) * size_t(stride);
    const uint8_t* p10 = rowHigh + size_t(column.low) * size_t(stride);
    const uint8_t* p11 = rowHigh + size_t(column.high) * size_t(stride);
    uint8_t* target = out + size_t(j) * size_t(stride);
    for (int32_t c = 0; c < channels; ++c) {
      const int64_t sum = half + (p00[c] * weightLeft + p01[c] * weightRight) * weightLow +
                          (p10[c] * weightLeft + p11[c] * weightRight) * weightHigh;
      target[c] = static_cast<uint8_t>(sum / total);
    }
  }
}

int32_t ScaleBgr24(const Image* source, Image* destination) {
  if (HasNoPixels(*source)) return 1;
  const int32_t height = destination->height;
  const size_t sourceRow = size_t(source->width) * kBgrBytesPerPixel;
  const size_t row = size_t(destination->width) * kBgrBytesPerPixel;
  for (int32_t i = 0; i < height; ++i) {
    const AxisSample r = MapAxis(i, source->height, height);
    InterpolateRow_Ref(source->data + size_t(r.low) * sourceRow, source->data + size_t(r.high) * sourceRow,
                       source->width, destination->width, height - r.fraction, r.fraction, kBgrBytesPerPixel,
                       kBgrBytesPerPixel, destination->data + size_t(i) * row);
    ScaleMaskRow(*source, destination, i, r.low);
  }
  return 1;
}

int32_t ScaleYuv422(const Image* source, Image* destination) {
  if (HasNoPixels(*source)) return 1;
  const int32_t width = destination->width;
  const int32_t height = destination->height;
  const size_t sourceRow = size_t(ChromaWidth(source->width)) * kBytesPerGroup;
  const size_t row = size_t(ChromaWidth(width)) * kBytesPerGroup;
  for (int32_t i = 0; i < height; ++i) {
    const AxisSample r = MapAxis(i, source->height, height);
    const uint8_t* low = source->data + size_t(r.low) * sourceRow;
    uint8_t* out = destination->data + size_t(i) * row;
    InterpolateRow_Ref(low, source->data + size_t(r.high) * sourceRow, source->width, width, height - r.fraction,
                       r.fraction, 1, kLumaStride422, out);
    // The group's colour comes from the source group of the nearest lower
    // column, in the nearest lower row only.
    for (int32_t j = 0; j < width; j += 2) {
      const uint8_t* group = low + size_t(MapAxis(j, source->width, width).low / 2) * kBytesPerGroup;
      uint8_t* target = out + size_t(j / 2) * kBytesPerGroup;
      target[kGroupU] = group[kGroupU];
      target[kGroupV] = group[kGroupV];
    }
    // The byte that belongs to no pixel repeats the last Y, as the encoder
    // writes it, so no uninitialised byte is ever carried along.
    if (width % 2 != 0) {
      uint8_t* last = out + size_t(width / 2) * kBytesPerGroup;
      last[kGroupOddY] = last[0];
    }
    ScaleMaskRow(*source, destination, i, r.low);
  }
  return 1;
}

int32_t ScaleYuv420(const Image* source, Image* destination) {
  if (HasNoPixels(*source)) return 1;
  const int32_t width = destination->width;
  const int32_t height = destination->height;
  const size_t sourceChromaWidth = size_t(ChromaWidth(source->width));
  const size_t sourceChroma = sourceChromaWidth * size_t(ChromaHeight(source->height));
  const uint8_t* sourceU = source->data + size_t(source->width) * size_t(source->height);
  const uint8_t* sourceV = sourceU + sourceChroma;
  const size_t chromaWidth = size_t(ChromaWidth(width));
  uint8_t* u = destination->data + size_t(width) * size_t(height);
  uint8_t* v = u + chromaWidth * size_t(ChromaHeight(height));
  for (int32_t i = 0; i < height; ++i) {
    const AxisSample r = MapAxis(i, source->height, height);
    InterpolateRow_Ref(source->data + size_t(r.low) * size_t(source->width),
                       source->data + size_t(r.high) * size_t(source->width), source->width, width,
                       height - r.fraction, r.fraction, 1, 1, destination->data + size_t(i) * size_t(width));
    // Every even pixel row and column owns one chroma sample, the partial last
    // ones included, and copies the sample of its nearest lower source pixel.
    if (i % 2 == 0) {
      const size_t sourceBase = size_t(r.low / 2) * sourceChromaWidth;
      const size_t base = size_t(i / 2) * chromaWidth;
      for (int32_t j = 0; j < width; j += 2) {
        const size_t s = sourceBase + size_t(MapAxis(j, source->width, width).low / 2);
        u[base + size_t(j / 2)] = sourceU[s];
        v[base + size_t(j / 2)] = sourceV[s];
      }
    }
    ScaleMaskRow(*source, destination, i, r.low);
  }
  return 1;
}

Image* ResizeImage(Package* package, Image* image, int32_t width, int32_t height, int32_t makeCopy) {
  if (image == nullptr) return nullptr;
  if (width == image->width && height == image->height) return nullptr;
  // Refused before anything changes: a negative size has no picture.
  if (width < 0 || height < 0) return nullptr;

  Image* source = image;
  // A picture smaller than its stored one starts again from the stored one,
  // so shrinking and growing back never loses detail.
  if (image->width < int32_t{image->storedEntry.width} || image->height < int32_t{image->storedEntry.height}) {
    MemFree(image->data);
    image->data = nullptr;
    source = FetchPicture(package, image->pictureIndex, image->pixelFormat);
    if (source == nullptr) return nullptr;
  }
  if (source->data == nullptr || !HasLayoutSizes(*source)) return nullptr;
  const bool empty = width == 0 || height == 0;
  if (!empty && HasNoPixels(*source)) return nullptr;

  const int64_t pixelSize = PixelDataSize(source->pixelFormat, width, height);
  const int64_t maskSize = MaskDataSize(source->maskKind, width, height);
  if (pixelSize == kNoSize || maskSize == kNoSize || pixelSize + maskSize > kMaxDataSize) return nullptr;

  Image* scaled = static_cast<Image*>(MemAlloc(sizeof(Image), 1));
  if (scaled == nullptr) return nullptr;
  scaled->width = width;
  scaled->height = height;
  scaled->pixelFormat = source->pixelFormat;
  scaled->maskKind = source->maskKind;
  scaled->pixelDataSize = static_cast<int32_t>(pixelSize);
  scaled->maskDataSize = static_cast<int32_t>(maskSize);
  scaled->totalSize = static_cast<int32_t>(pixelSize + maskSize);
  scaled->data = static_cast<uint8_t*>(MemAlloc(size_t(scaled->totalSize), 0));
  if (scaled->data == nullptr) {
    MemFree(scaled);
    return nullptr;
  }
  std::memset(scaled->data + pixelSize, 0, size_t(maskSize));

  switch (source->pixelFormat) {
    case kFormatBgr24:
      ScaleBgr24(source, scaled);
      break;
    case kFormatYuv422:
      ScaleYuv422(source, scaled);
      break;
    default:
      ScaleYuv420(source, scaled);
      break;
  }
  if (makeCopy != 0) return scaled;

  uint8_t* old = source->data;
  source->width = scaled->width;
  source->height = scaled->height;
  source->pixelDataSize = scaled->pixelDataSize;
  source->maskDataSize = scaled->maskDataSize;
  source->totalSize = scaled->totalSize;
  source->data = scaled->data;
  MemFree(old);
  MemFree(scaled);
  return source;
}

}  // namespace tiko
