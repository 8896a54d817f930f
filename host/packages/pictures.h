// Pictures between the forms people edit (top-down RGBA, as in PNG files) and
// the forms packages store, through the player's own conversions so that a
// package shows what its author saw; and the whole-file reads of the
// authoring commands, which say why a file cannot be read.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "host/packages/errors.h"
#include "host/rgba_png.h"
#include "authoring/writer.h"

namespace tiko::packages {

// A picture's side in pixels is a 16-bit field of its entry.
inline constexpr int32_t kMaxPictureSide = 65535;

// The file's bytes, at most `limit` of them. Throws Error
// ("cannot read PATH: why").
std::vector<uint8_t> ReadInput(const std::string& path, size_t limit = std::numeric_limits<size_t>::max());

// Refuses a width x height picture that a package cannot hold in `layout`
// with `mask`: Error ("WHAT: W x H pixels; why").
void CheckPictureSize(const std::string& what, int64_t width, int64_t height, uint8_t layout, uint8_t mask);

// A PNG picture that a package can hold in `layout` with `mask`, as RGBA.
// Throws Error naming the file: unreadable, not a PNG, larger than a
// picture can be.
host::RgbaImage ReadPicturePng(const std::string& path, uint8_t layout, uint8_t mask);

// The PNG file of a picture: RGBA, or RGB when `withAlpha` is false. Throws
// Error.
std::vector<uint8_t> EncodePng(const host::RgbaImage& image, bool withAlpha);

// Pixel data from one layout to another. Throws Error.
std::vector<uint8_t> ConvertPixels(const std::vector<uint8_t>& pixels, uint8_t from, uint8_t to, int32_t width,
                                   int32_t height);

// A package picture from RGBA: rows turned bottom line first (as frames are),
// colours in `layout`, transparency from alpha as an 8-bit plane, a 1-bit
// plane (alpha >= threshold) or none. `storedPixels`, when given, are the exact
// pixel data to keep instead of converting the colours. Throws Error or
// authoring::PackageError.
authoring::PictureDesc PictureFromRgba(const host::RgbaImage& rgba, uint8_t layout, uint8_t mask, uint8_t threshold,
                                       bool compress, const std::vector<uint8_t>* storedPixels = nullptr);

// RGBA from decoded picture data (pixel data then plane). Throws Error.
host::RgbaImage RgbaFromPicture(const std::vector<uint8_t>& data, uint8_t layout, uint8_t mask, int32_t width,
                                int32_t height);

// Where (x, y from the top-left) `rgba` first shows other colours than the
// stored `pixels` in `layout` give, among the pixels that `mask` draws;
// nothing when they agree. The sizes must agree.
struct PixelAt {
  int32_t x;
  int32_t y;
};
std::optional<PixelAt> FirstChangedPixel(const host::RgbaImage& rgba, const std::vector<uint8_t>& pixels,
                                         uint8_t layout, uint8_t mask, uint8_t threshold);

}  // namespace tiko::packages
