#include "host/packages/pictures.h"

#include <fcntl.h>
#include <spng.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "host/files.h"
#include "image/convert.h"
#include "image/layout.h"
#include "package/heap.h"

namespace tiko::packages {

namespace {

// A PNG file opens with its 8-byte signature and the IHDR chunk: length,
// type, then width and height as big-endian 32-bit numbers.
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr size_t kPngWidthAt = 16;
constexpr size_t kPngSizeBytes = 24;

uint32_t BigEndian32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

struct EncoderDeleter {
  void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};

}  // namespace

std::vector<uint8_t> ReadInput(const std::string& path, size_t limit) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw Error("cannot read " + path + ": " + std::strerror(errno));
  std::vector<uint8_t> bytes;
  uint8_t buffer[1 << 16];
  while (bytes.size() < limit) {
    const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, limit - bytes.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      throw Error("cannot read " + path + ": " + std::strerror(error));
    }
    if (n == 0) break;
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
  ::close(fd);
  return bytes;
}

void CheckPictureSize(const std::string& what, int64_t width, int64_t height, uint8_t layout, uint8_t mask) {
  const std::string size = std::to_string(width) + " x " + std::to_string(height) + " pixels";
  if (width > kMaxPictureSide || height > kMaxPictureSide) {
    throw Error(what + ": " + size + "; pictures are at most " + std::to_string(kMaxPictureSide) + " pixels a side");
  }
  const int64_t pixels = PixelDataSize(layout, static_cast<int32_t>(width), static_cast<int32_t>(height));
  const int64_t plane = MaskDataSize(mask, static_cast<int32_t>(width), static_cast<int32_t>(height));
  if (pixels == kNoSize || plane == kNoSize || pixels + plane > kMaxDataSize) {
    throw Error(what + ": " + size + " are more than a picture holds (at most " + std::to_string(kMaxDataSize) +
                " bytes of pixels and transparency)");
  }
}

host::RgbaImage ReadPicturePng(const std::string& path, uint8_t layout, uint8_t mask) {
  // The size is checked from the header before anything is decoded, so that
  // a small file that claims a huge picture is refused, not allocated.
  const std::vector<uint8_t> head = ReadInput(path, kPngSizeBytes);
  if (head.size() == kPngSizeBytes && std::equal(kPngSignature, kPngSignature + 8, head.begin())) {
    const int64_t w = BigEndian32(&head[kPngWidthAt]), h = BigEndian32(&head[kPngWidthAt + 4]);
    CheckPictureSize(path, w, h, layout, mask);
  }
  std::string error;
  std::optional<host::RgbaImage> rgba = host::ReadPngRgba(path, kMaxPictureSide, &error);
  if (!rgba) throw Error(path + ": " + error);
  return std::move(*rgba);
}

std::vector<uint8_t> EncodePng(const host::RgbaImage& image, bool withAlpha) {
  std::string why;
  std::vector<uint8_t> png = host::EncodePngRgba(image, withAlpha, &why);
  if (png.empty()) throw Error("cannot encode a PNG picture: " + why);
  return png;
}

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
  if (image.data == nullptr) throw std::bad_alloc();
  std::memcpy(image.data, pixels.data(), pixels.size());
  const bool ok = ConvertImage(&image, to) == 1;
  std::vector<uint8_t> out;
  if (ok) out.assign(image.data, image.data + image.pixelDataSize);
  MemFree(image.data);
  if (!ok) throw Error("picture conversion failed");
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

std::optional<PixelAt> FirstChangedPixel(const host::RgbaImage& rgba, const std::vector<uint8_t>& pixels,
                                         uint8_t layout, uint8_t mask, uint8_t threshold) {
  // The colours the stored pixels show, as unpack wrote them into the PNG.
  const host::RgbaImage stored = RgbaFromPicture(pixels, layout, kMaskNone, rgba.width, rgba.height);
  for (int32_t y = 0; y < rgba.height; ++y) {
    for (int32_t x = 0; x < rgba.width; ++x) {
      const size_t p = (size_t(y) * rgba.width + x) * 4;
      const uint8_t alpha = rgba.pixels[p + 3];
      // Colours that are never drawn may change freely: editors often clear
      // them under full transparency.
      const bool drawn = mask == kMaskByte ? alpha > 0 : (mask == kMaskBit ? alpha >= threshold : true);
      if (drawn && !std::equal(&rgba.pixels[p], &rgba.pixels[p + 3], &stored.pixels[p])) return PixelAt{x, y};
    }
  }
  return std::nullopt;
}

}  // namespace tiko::packages
