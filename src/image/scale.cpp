#include "image/scale.h"

#include <cstring>

#include "image/kernel_set.h"
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

// The transparency plane: nearest source pixel for every destination pixel.
void ScaleMask(const ScaleKernels& kernels, const Image& source, Image* destination) {
  if (destination->width <= 0 || destination->height <= 0) return;
  if (source.maskKind == kMaskByte) {
    PickScale pick;
    pick.source = MaskPlane(source);
    pick.sourceRowBytes = source.width;
    pick.sourceReadable = int64_t{source.totalSize} - source.pixelDataSize;
    pick.sourceWidth = source.width;
    pick.sourceHeight = source.height;
    pick.destination = MaskPlane(*destination);
    pick.rowBytes = destination->width;
    pick.width = destination->width;
    pick.height = destination->height;
    pick.samples = destination->width;
    pick.rows = destination->height;
    pick.columnStep = 1;
    pick.rowStep = 1;
    pick.stride = 1;
    pick.firstChannel = 0;
    pick.channels = 1;
    pick.channelStep = 1;
    kernels.pickPlane(pick);
    return;
  }
  if (source.maskKind != kMaskBit) return;
  // Each destination row takes the bits of its nearest lower source row.
  for (int32_t i = 0; i < destination->height; ++i) {
    const int32_t sourceRow = MapAxis(i, source.height, destination->height).low;
    kernels.scaleBitRow(MaskPlane(source), uint64_t(sourceRow) * uint64_t(source.width), source.width,
                        MaskPlane(*destination), uint64_t(i) * uint64_t(destination->width), destination->width);
  }
}

bool HasNoPixels(const Image& image) { return image.width <= 0 || image.height <= 0; }

// The interpolated samples of a picture whose plane starts its block.
PlaneScale SamplePlane(const Image& source, Image* destination, int64_t sourceRowBytes, int64_t rowBytes,
                       int32_t channels, int32_t stride) {
  PlaneScale plane;
  plane.source = source.data;
  plane.sourceRowBytes = sourceRowBytes;
  plane.sourceWidth = source.width;
  plane.sourceHeight = source.height;
  plane.sourceReadable = source.totalSize;
  plane.destination = destination->data;
  plane.rowBytes = rowBytes;
  plane.width = destination->width;
  plane.height = destination->height;
  plane.channels = channels;
  plane.stride = stride;
  return plane;
}

constexpr ScaleKernels kScaleKernelsRef = {InterpolatePlaneRef, PickPlaneRef, ScalePacked422Ref, ScaleBitRowRef};

// The chroma of a 4:2:2 picture (U and V of each group, from the groups of
// every destination row's nearest lower source row) or of one 4:2:0 chroma
// plane (its samples, from every even destination row and column).
PickScale ChromaPick(const Image& source, const Image& destination, const uint8_t* sourcePlane,
                     uint8_t* plane) {
  const bool packed = source.pixelFormat == kFormatYuv422;
  PickScale pick;
  pick.source = sourcePlane;
  pick.sourceRowBytes = int64_t{ChromaWidth(source.width)} * (packed ? kBytesPerGroup : 1);
  pick.sourceReadable = source.totalSize - (sourcePlane - source.data);
  pick.sourceWidth = source.width;
  pick.sourceHeight = source.height;
  pick.destination = plane;
  pick.rowBytes = int64_t{ChromaWidth(destination.width)} * (packed ? kBytesPerGroup : 1);
  pick.width = destination.width;
  pick.height = destination.height;
  pick.samples = ChromaWidth(destination.width);
  pick.rows = packed ? destination.height : ChromaHeight(destination.height);
  pick.columnStep = 2;
  pick.rowStep = packed ? 1 : 2;
  pick.stride = packed ? kBytesPerGroup : 1;
  pick.firstChannel = packed ? kGroupU : 0;
  pick.channels = packed ? 2 : 1;
  pick.channelStep = packed ? kGroupV - kGroupU : 1;
  return pick;
}

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

void InterpolateRowRef(const uint8_t* rowLow, const uint8_t* rowHigh, int32_t sourceWidth, int32_t width,
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

void InterpolatePlaneRef(const PlaneScale& plane) {
  for (int32_t i = 0; i < plane.height; ++i) {
    const AxisSample r = MapAxis(i, plane.sourceHeight, plane.height);
    InterpolateRowRef(plane.source + r.low * plane.sourceRowBytes, plane.source + r.high * plane.sourceRowBytes,
                      plane.sourceWidth, plane.width, plane.height - r.fraction, r.fraction, plane.channels,
                      plane.stride, plane.destination + i * plane.rowBytes);
  }
}

void PickPlaneRef(const PickScale& pick) {
  for (int32_t m = 0; m < pick.rows; ++m) {
    const int32_t sourceRow = MapAxis(m * pick.rowStep, pick.sourceHeight, pick.height).low / pick.rowStep;
    const uint8_t* in = pick.source + sourceRow * pick.sourceRowBytes;
    uint8_t* out = pick.destination + m * pick.rowBytes;
    for (int32_t k = 0; k < pick.samples; ++k) {
      const int32_t column = MapAxis(k * pick.columnStep, pick.sourceWidth, pick.width).low / pick.columnStep;
      for (int32_t c = 0; c < pick.channels; ++c) {
        const int32_t channel = pick.firstChannel + c * pick.channelStep;
        out[int64_t{k} * pick.stride + channel] = in[int64_t{column} * pick.stride + channel];
      }
    }
  }
}

void ScalePacked422Ref(const PlaneScale& luma, const PickScale& chroma) {
  InterpolatePlaneRef(luma);
  PickPlaneRef(chroma);
}

void ScaleBitRowRef(const uint8_t* source, uint64_t sourceFirstBit, int32_t sourceWidth, uint8_t* destination,
                    uint64_t firstBit, int32_t width) {
  for (int32_t j = 0; j < width; ++j) {
    const uint64_t s = sourceFirstBit + uint64_t(MapAxis(j, sourceWidth, width).low);
    const uint64_t t = firstBit + uint64_t(j);
    if ((source[s / kBitsPerByte] >> (s % kBitsPerByte)) & 1) {
      destination[t / kBitsPerByte] = static_cast<uint8_t>(destination[t / kBitsPerByte] | (1u << (t % kBitsPerByte)));
    }
  }
}

int32_t FindReciprocal(uint64_t divisor, uint64_t maxNumerator, Reciprocal* reciprocal) {
  constexpr int32_t kMinShift = 32;  // the quotient is the high half of the product or less
  constexpr int32_t kMaxShift = 63;
  constexpr uint64_t kMultiplierLimit = uint64_t{1} << 32;
  // Every product below must fit 64 bits: n x multiplier < 2^32 x 2^32 and
  // e x maxNumerator < divisor x maxNumerator.
  if (divisor < 2 || maxNumerator >= kMultiplierLimit || divisor >= kMultiplierLimit) return 0;
  for (int32_t shift = kMinShift; shift <= kMaxShift; ++shift) {
    const uint64_t power = uint64_t{1} << shift;
    const uint64_t multiplier = power / divisor + (power % divisor != 0 ? 1 : 0);
    if (multiplier >= kMultiplierLimit) return 0;  // only grows with the shift
    const uint64_t excess = multiplier * divisor - power;
    if (excess == 0 || excess <= (power - 1) / maxNumerator) {
      // excess x maxNumerator < 2^shift, so every numerator up to the limit
      // divides exactly.
      reciprocal->multiplier = static_cast<uint32_t>(multiplier);
      reciprocal->shift = shift;
      return 1;
    }
  }
  return 0;
}

const ScaleKernels& ScaleKernelsOf(int32_t set) { return ChooseKernels(set, kScaleKernelsRef, ScaleKernelsX86); }

int32_t ScaleBgr24(const Image* source, Image* destination) {
  if (HasNoPixels(*source)) return 1;
  const ScaleKernels& kernels = ScaleKernelsOf(ActiveKernelSet());
  kernels.interpolatePlane(SamplePlane(*source, destination, int64_t{source->width} * kBgrBytesPerPixel,
                                       int64_t{destination->width} * kBgrBytesPerPixel, kBgrBytesPerPixel,
                                       kBgrBytesPerPixel));
  ScaleMask(kernels, *source, destination);
  return 1;
}

int32_t ScaleYuv422(const Image* source, Image* destination) {
  if (HasNoPixels(*source)) return 1;
  const int32_t width = destination->width;
  const int32_t height = destination->height;
  const int64_t sourceRow = int64_t{ChromaWidth(source->width)} * kBytesPerGroup;
  const int64_t row = int64_t{ChromaWidth(width)} * kBytesPerGroup;
  const ScaleKernels& kernels = ScaleKernelsOf(ActiveKernelSet());
  // The Y bytes, then the chroma over the bytes between them. The group's
  // colour comes from the source group of the nearest lower column, in the
  // nearest lower row only.
  kernels.scalePacked422(SamplePlane(*source, destination, sourceRow, row, 1, kLumaStride422),
                         ChromaPick(*source, *destination, source->data, destination->data));
  // The byte that belongs to no pixel repeats the last Y, as the encoder
  // writes it, so no uninitialised byte is ever carried along.
  if (width % 2 != 0) {
    for (int32_t i = 0; i < height; ++i) {
      uint8_t* last = destination->data + i * row + int64_t{width / 2} * kBytesPerGroup;
      last[kGroupOddY] = last[0];
    }
  }
  ScaleMask(kernels, *source, destination);
  return 1;
}

int32_t ScaleYuv420(const Image* source, Image* destination) {
  if (HasNoPixels(*source)) return 1;
  const int64_t sourceChroma = int64_t{ChromaWidth(source->width)} * ChromaHeight(source->height);
  const uint8_t* sourceU = source->data + int64_t{source->width} * source->height;
  const int64_t chroma = int64_t{ChromaWidth(destination->width)} * ChromaHeight(destination->height);
  uint8_t* u = destination->data + int64_t{destination->width} * destination->height;
  const ScaleKernels& kernels = ScaleKernelsOf(ActiveKernelSet());
  kernels.interpolatePlane(SamplePlane(*source, destination, source->width, destination->width, 1, 1));
  // Every even pixel row and column owns one chroma sample, the partial last
  // ones included, and copies the sample of its nearest lower source pixel.
  kernels.pickPlane(ChromaPick(*source, *destination, sourceU, u));
  kernels.pickPlane(ChromaPick(*source, *destination, sourceU + sourceChroma, u + chroma));
  ScaleMask(kernels, *source, destination);
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
