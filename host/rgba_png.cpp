#include "host/rgba_png.h"

#include <spng.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

namespace tiko::host {
namespace {

struct ContextDeleter {
  void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};

// zlib's level for quick pictures: with the "up" filter it makes files no
// bigger than the usual tools' at about a fifth of the default's time.
constexpr int kQuickCompression = 3;

bool Fail(std::string* error, const std::string& what) {
  if (error != nullptr) *error = what;
  return false;
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
  std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
  if (!file) return Fail(error, "cannot create " + path + ": " + std::strerror(errno));
  if (std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
    return Fail(error, "cannot write " + path + ": " + std::strerror(errno));
  }
  if (std::fclose(file.release()) != 0) return Fail(error, "cannot write " + path + ": " + std::strerror(errno));
  return true;
}

}  // namespace

std::optional<RgbaImage> ReadPngRgba(const std::string& path, int32_t maxSide, std::string* error) {
  std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    Fail(error, "cannot open");
    return std::nullopt;
  }
  std::unique_ptr<spng_ctx, ContextDeleter> ctx(spng_ctx_new(0));
  if (!ctx) {
    Fail(error, "out of memory");
    return std::nullopt;
  }
  spng_set_image_limits(ctx.get(), static_cast<uint32_t>(maxSide), static_cast<uint32_t>(maxSide));
  spng_set_png_file(ctx.get(), file.get());
  spng_ihdr ihdr{};
  int rc = spng_get_ihdr(ctx.get(), &ihdr);
  size_t size = 0;
  if (rc == 0) rc = spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA8, &size);
  RgbaImage image;
  if (rc == 0) {
    image.width = static_cast<int32_t>(ihdr.width);
    image.height = static_cast<int32_t>(ihdr.height);
    image.pixels.resize(size);
    rc = spng_decode_image(ctx.get(), image.pixels.data(), size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS);
  }
  if (rc != 0) {
    Fail(error, std::string("not a readable PNG (") + spng_strerror(rc) + ")");
    return std::nullopt;
  }
  return image;
}

std::vector<uint8_t> EncodePng(const uint8_t* pixels, int32_t width, int32_t height, PngPixels layout,
                               PngEffort effort, std::string* error) {
  if (pixels == nullptr || width <= 0 || height <= 0) {
    Fail(error, "empty picture");
    return {};
  }
  const size_t channels = layout == PngPixels::kRgba ? 4 : 3;
  const size_t size = static_cast<size_t>(width) * static_cast<size_t>(height) * channels;
  std::vector<uint8_t> swapped;
  if (layout == PngPixels::kBgr) {
    swapped.assign(pixels, pixels + size);
    for (size_t i = 0; i < size; i += 3) std::swap(swapped[i], swapped[i + 2]);
    pixels = swapped.data();
  }
  std::unique_ptr<spng_ctx, ContextDeleter> ctx(spng_ctx_new(SPNG_CTX_ENCODER));
  if (!ctx) {
    Fail(error, "out of memory");
    return {};
  }
  int rc = spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1);
  if (rc == 0 && effort == PngEffort::kQuick) {
    rc = spng_set_option(ctx.get(), SPNG_FILTER_CHOICE, SPNG_FILTER_CHOICE_UP);
    if (rc == 0) rc = spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_LEVEL, kQuickCompression);
  }
  spng_ihdr ihdr{};
  ihdr.width = static_cast<uint32_t>(width);
  ihdr.height = static_cast<uint32_t>(height);
  ihdr.bit_depth = 8;
  ihdr.color_type = layout == PngPixels::kRgba ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA : SPNG_COLOR_TYPE_TRUECOLOR;
  if (rc == 0) rc = spng_set_ihdr(ctx.get(), &ihdr);
  if (rc == 0) rc = spng_encode_image(ctx.get(), pixels, size, SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
  size_t length = 0;
  void* png = rc == 0 ? spng_get_png_buffer(ctx.get(), &length, &rc) : nullptr;
  if (png == nullptr) {
    Fail(error, std::string("cannot encode PNG (") + spng_strerror(rc) + ")");
    return {};
  }
  // The buffer is the encoder's own, from malloc.
  const auto* bytes = static_cast<const uint8_t*>(png);
  std::vector<uint8_t> out(bytes, bytes + length);
  std::free(png);
  return out;
}

std::vector<uint8_t> EncodePngRgba(const RgbaImage& image, bool withAlpha, std::string* error) {
  if (withAlpha) return EncodePng(image.pixels.data(), image.width, image.height, PngPixels::kRgba, PngEffort::kSmallest, error);
  std::vector<uint8_t> rgb;
  rgb.reserve(size_t(image.width) * image.height * 3);
  for (size_t i = 0; i + 3 < image.pixels.size(); i += 4) rgb.insert(rgb.end(), &image.pixels[i], &image.pixels[i + 3]);
  return EncodePng(rgb.data(), image.width, image.height, PngPixels::kRgb, PngEffort::kSmallest, error);
}

bool WritePngRgba(const std::string& path, const RgbaImage& image, bool withAlpha, std::string* error) {
  const std::vector<uint8_t> png = EncodePngRgba(image, withAlpha, error);
  return !png.empty() && WriteBytes(path, png, error);
}

}  // namespace tiko::host
