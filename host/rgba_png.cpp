#include "host/rgba_png.h"

#include <spng.h>

#include <cstdio>
#include <memory>

namespace tiko::host {
namespace {

struct ContextDeleter {
  void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};

bool Fail(std::string* error, const std::string& what) {
  if (error != nullptr) *error = what;
  return false;
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

bool WritePngRgba(const std::string& path, const RgbaImage& image, bool withAlpha, std::string* error) {
  std::vector<uint8_t> rgb;
  const uint8_t* data = image.pixels.data();
  size_t size = image.pixels.size();
  if (!withAlpha) {
    rgb.reserve(size_t(image.width) * image.height * 3);
    for (size_t i = 0; i + 3 < image.pixels.size(); i += 4) rgb.insert(rgb.end(), &image.pixels[i], &image.pixels[i + 3]);
    data = rgb.data();
    size = rgb.size();
  }
  std::unique_ptr<spng_ctx, ContextDeleter> ctx(spng_ctx_new(SPNG_CTX_ENCODER));
  if (!ctx) return Fail(error, "out of memory");
  std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
  if (!file) return Fail(error, "cannot create");
  spng_set_png_file(ctx.get(), file.get());
  spng_ihdr ihdr{};
  ihdr.width = static_cast<uint32_t>(image.width);
  ihdr.height = static_cast<uint32_t>(image.height);
  ihdr.bit_depth = 8;
  ihdr.color_type = withAlpha ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA : SPNG_COLOR_TYPE_TRUECOLOR;
  int rc = spng_set_ihdr(ctx.get(), &ihdr);
  if (rc == 0) rc = spng_encode_image(ctx.get(), data, size, SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
  if (rc != 0) return Fail(error, std::string("cannot encode PNG (") + spng_strerror(rc) + ")");
  if (std::fflush(file.get()) != 0 || std::ferror(file.get())) return Fail(error, "write error");
  return true;
}

}  // namespace tiko::host
