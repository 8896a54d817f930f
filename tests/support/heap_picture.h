// Pictures outside any package for the image suites: loaded pictures whose
// block comes from the player's heap, as the conversions and the rescaler
// expect, given back with the object; and random bytes to fill them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "image/layout.h"
#include "package/heap.h"
#include "package/records.h"

namespace tiko::test {

inline std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out(n);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

struct HeapPicture {
  using Bytes = std::vector<uint8_t>;
  Image image{};

  // `bytes`: the pixel data, then the transparency plane.
  HeapPicture(uint8_t format, int32_t width, int32_t height, uint8_t maskKind, const Bytes& bytes) {
    image.width = width;
    image.height = height;
    image.pixelFormat = format;
    image.maskKind = maskKind;
    image.pixelDataSize = static_cast<int32_t>(PixelDataSize(format, width, height));
    image.maskDataSize = static_cast<int32_t>(MaskDataSize(maskKind, width, height));
    image.totalSize = image.pixelDataSize + image.maskDataSize;
    EXPECT_EQ(bytes.size(), size_t(image.totalSize));
    image.data = static_cast<uint8_t*>(MemAlloc(size_t(image.totalSize), 0));
    std::copy_n(bytes.begin(), std::min(bytes.size(), size_t(image.totalSize)), image.data);
  }
  // Random pixels in `format`, with a random plane of `maskKind`.
  HeapPicture(uint8_t format, int32_t width, int32_t height, uint8_t maskKind = kMaskNone, uint32_t seed = 1)
      : HeapPicture(format, width, height, maskKind, Random(format, width, height, maskKind, seed)) {}
  ~HeapPicture() { MemFree(image.data); }
  HeapPicture(const HeapPicture&) = delete;
  HeapPicture& operator=(const HeapPicture&) = delete;

  Bytes Pixels() const { return Bytes(image.data, image.data + image.pixelDataSize); }
  Bytes Mask() const { return Bytes(image.data + image.pixelDataSize, image.data + image.totalSize); }
  Bytes All() const { return Bytes(image.data, image.data + image.totalSize); }

 private:
  static Bytes Random(uint8_t format, int32_t width, int32_t height, uint8_t maskKind, uint32_t seed) {
    Bytes bytes = RandomBytes(size_t(PixelDataSize(format, width, height)), seed);
    const Bytes mask = RandomBytes(size_t(MaskDataSize(maskKind, width, height)), seed + 1);
    bytes.insert(bytes.end(), mask.begin(), mask.end());
    return bytes;
  }
};

}  // namespace tiko::test
