#include "pictures.h"

#include <cstring>
#include <filesystem>

#include "image/convert.h"
#include "image/layout.h"
#include "package/heap.h"

namespace tiko::tool {

std::vector<uint8_t> ConvertPixels(const std::vector<uint8_t>& pixels, uint8_t from, uint8_t to, int32_t width,
                                   int32_t height) {
  if (from == to) return pixels;
  Image image{};
  image.width = width;
  image.height = height;
  image.pixelFormat = from;
  image.pixelDataSize = static_cast<int32_t>(pixels.size());
  image.totalSize = image.pixelDataSize;
  image.data = static_cast<uint8_t*>(MemAlloc(pixels.size(), 0));
  if (image.data == nullptr) throw Failure{"out of memory"};
  std::memcpy(image.data, pixels.data(), pixels.size());
  const bool ok = ConvertImage(&image, to) == 1;
  std::vector<uint8_t> out;
  if (ok) out.assign(image.data, image.data + image.pixelDataSize);
  MemFree(image.data);
  if (!ok) throw Failure{"picture conversion failed"};
  return out;
}

authoring::PictureDesc PictureFromRgba(const host::RgbaImage& rgba, uint8_t layout, uint8_t mask, uint8_t threshold,
                                       bool compress, const std::vector<uint8_t>* storedPixels) {
  const int32_t w = rgba.width, h = rgba.height;
  const size_t pixels = size_t(w) * h;
  // RGBA rows run top down; picture rows run up from the bottom line, like
  // the frames they are drawn into.
  std::vector<uint8_t> bgr(pixels * 3);
  std::vector<uint8_t> alpha(pixels);
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* in = rgba.pixels.data() + size_t(h - 1 - y) * w * 4;
    for (int32_t x = 0; x < w; ++x) {
      const size_t p = size_t(y) * w + x;
      bgr[3 * p] = in[4 * x + 2];
      bgr[3 * p + 1] = in[4 * x + 1];
      bgr[3 * p + 2] = in[4 * x];
      alpha[p] = in[4 * x + 3];
    }
  }
  std::vector<uint8_t> data = storedPixels != nullptr ? *storedPixels : ConvertPixels(bgr, kFormatBgr24, layout, w, h);
  if (mask == kMaskByte) {
    data.insert(data.end(), alpha.begin(), alpha.end());
  } else if (mask == kMaskBit) {
    std::vector<uint8_t> bits((pixels + 7) / 8, 0);
    for (size_t p = 0; p < pixels; ++p) {
      if (alpha[p] >= threshold) bits[p / 8] |= static_cast<uint8_t>(1u << (p % 8));
    }
    data.insert(data.end(), bits.begin(), bits.end());
  }
  return authoring::MakePicture(layout, mask, static_cast<uint16_t>(w), static_cast<uint16_t>(h), std::move(data),
                                compress);
}

host::RgbaImage RgbaFromPicture(const std::vector<uint8_t>& data, uint8_t layout, uint8_t mask, int32_t width,
                                int32_t height) {
  const int64_t pixelSize = PixelDataSize(layout, width, height);
  const std::vector<uint8_t> stored(data.begin(), data.begin() + pixelSize);
  const std::vector<uint8_t> bgr = ConvertPixels(stored, layout, kFormatBgr24, width, height);
  host::RgbaImage rgba{width, height, std::vector<uint8_t>(size_t(width) * height * 4)};
  const uint8_t* plane = data.data() + pixelSize;
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* out = rgba.pixels.data() + size_t(height - 1 - y) * width * 4;
    for (int32_t x = 0; x < width; ++x) {
      const size_t p = size_t(y) * width + x;
      out[4 * x] = bgr[3 * p + 2];
      out[4 * x + 1] = bgr[3 * p + 1];
      out[4 * x + 2] = bgr[3 * p];
      out[4 * x + 3] = mask == kMaskByte  ? plane[p]
                       : mask == kMaskBit ? (((plane[p / 8] >> (p % 8)) & 1) ? 255 : 0)
                                          : 255;
    }
  }
  return rgba;
}

void WriteAtomically(const std::string& path, const std::vector<uint8_t>& bytes) {
  namespace fs = std::filesystem;
  const std::string temporary = path + ".partial";
  try {
    authoring::WriteFileBytes(temporary, bytes);
  } catch (const authoring::PackageError&) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    throw Failure{path + ": cannot write"};
  }
  std::error_code ec;
  fs::rename(temporary, path, ec);
  if (ec) {
    fs::remove(temporary, ec);
    throw Failure{path + ": cannot write"};
  }
}

}  // namespace tiko::tool
