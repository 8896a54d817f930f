#include "host/image_bitmap.h"

#include <jpeglib.h>
#include <spng.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "host/rgba_png.h"

namespace tiko::host {
namespace {

constexpr size_t kBytesPerPixel = 3;
constexpr uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr uint8_t kJpegSignature[] = {0xFF, 0xD8, 0xFF};
// PNG chunks above this are refused before they are read; pictures the
// player takes never need one this large.
constexpr size_t kMaxPngChunkBytes = size_t{1} << 26;

bool Fail(std::string* error, const std::string& message) {
  if (error != nullptr) *error = message;
  return false;
}

bool StartsWith(const std::vector<uint8_t>& bytes, const uint8_t* prefix, size_t count) {
  return bytes.size() >= count && std::memcmp(bytes.data(), prefix, count) == 0;
}

bool SizeAllowed(int64_t width, int64_t height) {
  return width > 0 && height > 0 && width <= INT32_MAX && height <= INT32_MAX && width * height <= kMaxImagePixels;
}

std::optional<BgrImage> DecodePng(const std::vector<uint8_t>& bytes, std::string* error) {
  spng_ctx* ctx = spng_ctx_new(0);
  if (ctx == nullptr) {
    Fail(error, "out of memory");
    return std::nullopt;
  }
  std::optional<BgrImage> result;
  spng_ihdr ihdr{};
  size_t size = 0;
  int status = spng_set_chunk_limits(ctx, kMaxPngChunkBytes, kMaxPngChunkBytes);
  if (status == 0) status = spng_set_png_buffer(ctx, bytes.data(), bytes.size());
  if (status == 0) status = spng_get_ihdr(ctx, &ihdr);
  if (status == 0 && !SizeAllowed(ihdr.width, ihdr.height)) {
    Fail(error, "picture too large: " + std::to_string(ihdr.width) + " x " + std::to_string(ihdr.height));
  } else {
    if (status == 0) status = spng_decoded_image_size(ctx, SPNG_FMT_RGB8, &size);
    BgrImage image;
    if (status == 0) {
      image.width = static_cast<int32_t>(ihdr.width);
      image.height = static_cast<int32_t>(ihdr.height);
      image.pixels.resize(size);
      // Transparency is dropped: a background is opaque.
      status = spng_decode_image(ctx, image.pixels.data(), size, SPNG_FMT_RGB8, 0);
    }
    if (status == 0 && size == static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * kBytesPerPixel) {
      for (size_t i = 0; i < size; i += kBytesPerPixel) std::swap(image.pixels[i], image.pixels[i + 2]);
      result = std::move(image);
    } else if (status != 0) {
      Fail(error, std::string("bad PNG: ") + spng_strerror(status));
    } else {
      Fail(error, "bad PNG: unexpected decoded size");
    }
  }
  spng_ctx_free(ctx);
  return result;
}

// libjpeg reports fatal errors through a callback that must not return.
struct JpegErrors {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void JpegErrorExit(j_common_ptr info) {
  auto* errors = reinterpret_cast<JpegErrors*>(info->err);
  (*info->err->format_message)(info, errors->message);
  std::longjmp(errors->jump, 1);
}

// Warnings of damaged but readable files are not worth a line on stderr.
void JpegQuiet(j_common_ptr /*info*/) {}

// Kept apart from anything with a destructor, since a longjmp skips them.
bool DecodeJpegInto(const std::vector<uint8_t>& bytes, BgrImage* image, std::string* error) {
  jpeg_decompress_struct info;
  JpegErrors errors;
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = JpegErrorExit;
  errors.manager.output_message = JpegQuiet;
  errors.message[0] = 0;
  if (setjmp(errors.jump) != 0) {
    jpeg_destroy_decompress(&info);
    return Fail(error, std::string("bad JPEG: ") + errors.message);
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&info, TRUE);
  if (!SizeAllowed(info.image_width, info.image_height)) {
    jpeg_destroy_decompress(&info);
    return Fail(error, "picture too large");
  }
  // The codec gives blue, green, red directly.
  info.out_color_space = JCS_EXT_BGR;
  jpeg_start_decompress(&info);
  image->width = static_cast<int32_t>(info.output_width);
  image->height = static_cast<int32_t>(info.output_height);
  const size_t rowBytes = static_cast<size_t>(image->width) * kBytesPerPixel;
  image->pixels.resize(rowBytes * static_cast<size_t>(image->height));
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = image->pixels.data() + rowBytes * info.output_scanline;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

std::optional<BgrImage> DecodeJpeg(const std::vector<uint8_t>& bytes, std::string* error) {
  BgrImage image;
  if (!DecodeJpegInto(bytes, &image, error)) return std::nullopt;
  return image;
}

}  // namespace

std::optional<BgrImage> ReadImageFile(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    Fail(error, "cannot open " + path);
    return std::nullopt;
  }
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    Fail(error, "cannot read " + path);
    return std::nullopt;
  }
  if (StartsWith(bytes, kPngSignature, sizeof kPngSignature)) return DecodePng(bytes, error);
  if (StartsWith(bytes, kJpegSignature, sizeof kJpegSignature)) return DecodeJpeg(bytes, error);
  Fail(error, path + " is neither a PNG nor a JPEG file");
  return std::nullopt;
}

bool WritePngFile(const std::string& path, const uint8_t* pixels, int32_t width, int32_t height,
                  std::string* error) {
  const std::vector<uint8_t> png = EncodePng(pixels, width, height, PngPixels::kBgr, PngEffort::kQuick, error);
  if (png.empty()) return false;
  bool written = false;
  if (std::FILE* out = std::fopen(path.c_str(), "wb")) {
    written = std::fwrite(png.data(), 1, png.size(), out) == png.size();
    written = std::fclose(out) == 0 && written;
  }
  return written ? true : Fail(error, "cannot write " + path + ": " + std::strerror(errno));
}

BgrImage ResizeNearest(const BgrImage& image, int32_t width, int32_t height) {
  BgrImage out;
  if (width <= 0 || height <= 0 || image.width <= 0 || image.height <= 0) return out;
  out.width = width;
  out.height = height;
  out.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * kBytesPerPixel);
  uint8_t* o = out.pixels.data();
  for (int32_t y = 0; y < height; ++y) {
    const int64_t sy = int64_t{y} * image.height / height;
    for (int32_t x = 0; x < width; ++x) {
      const int64_t sx = int64_t{x} * image.width / width;
      std::memcpy(o, image.pixels.data() + (static_cast<size_t>(sy) * static_cast<size_t>(image.width) +
                                            static_cast<size_t>(sx)) *
                                               kBytesPerPixel,
                  kBytesPerPixel);
      o += kBytesPerPixel;
    }
  }
  return out;
}

ImageBitmap::ImageBitmap(BgrImage image) : image_(std::move(image)) {}

ImageBitmap::ImageBitmap(const uint8_t* pixels, int32_t width, int32_t height) {
  if (pixels == nullptr || width <= 0 || height <= 0) return;
  image_.width = width;
  image_.height = height;
  image_.pixels.assign(pixels, pixels + static_cast<size_t>(width) * static_cast<size_t>(height) * kBytesPerPixel);
}

int32_t ImageBitmap::CopyPixels(uint8_t* dst, int32_t width, int32_t lines) {
  if (deleted_ || dst == nullptr || width <= 0 || lines <= 0 || image_.width <= 0 || image_.height <= 0) return 0;
  const int32_t rows = lines < image_.height ? lines : image_.height;
  const size_t dstRowBytes = static_cast<size_t>(width) * kBytesPerPixel;
  const size_t srcRowBytes = static_cast<size_t>(image_.width) * kBytesPerPixel;
  const size_t keepBytes = dstRowBytes < srcRowBytes ? dstRowBytes : srcRowBytes;
  for (int32_t r = 0; r < rows; ++r) {
    // Bottom line first: destination row r is the picture's row r from the bottom.
    const uint8_t* from = image_.pixels.data() + srcRowBytes * static_cast<size_t>(image_.height - 1 - r);
    uint8_t* to = dst + dstRowBytes * static_cast<size_t>(r);
    std::memcpy(to, from, keepBytes);
    if (keepBytes < dstRowBytes) std::memset(to + keepBytes, 0, dstRowBytes - keepBytes);
  }
  return rows;
}

void ImageBitmap::Delete() {
  deleted_ = true;
  image_ = BgrImage{};
}

}  // namespace tiko::host
