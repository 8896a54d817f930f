#include "image/layout.h"

namespace tiko {
namespace {

int64_t Fit(int64_t size) { return size > kMaxDataSize ? kNoSize : size; }

}  // namespace

bool IsPixelFormat(uint8_t format) {
  return format == kFormatBgr24 || format == kFormatYuv422 || format == kFormatYuv420;
}

bool IsMaskKind(uint8_t maskKind) { return maskKind == kMaskNone || maskKind == kMaskBit || maskKind == kMaskByte; }

int64_t RowSize(uint8_t format, int32_t width) {
  if (width < 0) return kNoSize;
  switch (format) {
    case kFormatBgr24:
      return Fit(int64_t{width} * kBgrBytesPerPixel);
    case kFormatYuv422:
      return Fit(int64_t{ChromaWidth(width)} * kBytesPerGroup);
    case kFormatYuv420:
      return width;
    default:
      return kNoSize;
  }
}

int64_t PixelDataSize(uint8_t format, int32_t width, int32_t height) {
  if (width < 0 || height < 0) return kNoSize;
  // Both factors are below 2^31, so the area and every size below can be
  // formed in 64 bits; anything past kMaxDataSize is refused.
  const int64_t area = int64_t{width} * height;
  if (area > kMaxDataSize) return kNoSize;
  switch (format) {
    case kFormatBgr24:
      return Fit(area * kBgrBytesPerPixel);
    case kFormatYuv422:
      return Fit(int64_t{ChromaWidth(width)} * kBytesPerGroup * height);
    case kFormatYuv420:
      return Fit(area + 2 * int64_t{ChromaWidth(width)} * ChromaHeight(height));
    default:
      return kNoSize;
  }
}

int64_t MaskDataSize(uint8_t maskKind, int32_t width, int32_t height) {
  if (width < 0 || height < 0) return kNoSize;
  const int64_t area = int64_t{width} * height;
  if (area > kMaxDataSize) return kNoSize;
  return Fit((maskKind * area + 7) / 8);
}

bool HasLayoutSizes(const Image& image) {
  const int64_t pixels = PixelDataSize(image.pixelFormat, image.width, image.height);
  const int64_t mask = MaskDataSize(image.maskKind, image.width, image.height);
  return pixels != kNoSize && mask != kNoSize && image.pixelDataSize == pixels && image.maskDataSize == mask &&
         int64_t{image.totalSize} == pixels + mask;
}

}  // namespace tiko
