// Pictures between the forms people edit (top-down RGBA, as in PNG files) and
// the forms packages store, through the player's own conversions so that a
// package shows what its author saw.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/rgba_png.h"
#include "package/writer.h"

namespace tiko::tool {

// A failure with its one-line message.
struct Failure {
  std::string message;
};

// Pixel data from one layout to another. Throws Failure.
std::vector<uint8_t> ConvertPixels(const std::vector<uint8_t>& pixels, uint8_t from, uint8_t to, int32_t width,
                                   int32_t height);

// A package picture from RGBA: rows turned bottom line first (as frames are),
// colours in `layout`, transparency from alpha as an 8-bit plane, a 1-bit
// plane (alpha >= threshold) or none. `storedPixels`, when given, are the exact
// pixel data to keep instead of converting the colours. Throws Failure or
// authoring::PackageError.
authoring::PictureDesc PictureFromRgba(const host::RgbaImage& rgba, uint8_t layout, uint8_t mask, uint8_t threshold,
                                       bool compress, const std::vector<uint8_t>* storedPixels = nullptr);

// RGBA from decoded picture data (pixel data then plane). Throws Failure.
host::RgbaImage RgbaFromPicture(const std::vector<uint8_t>& data, uint8_t layout, uint8_t mask, int32_t width,
                                int32_t height);

// Writes through a temporary file renamed into place, so that a failure never
// leaves a half-written file that looks complete. Throws Failure.
void WriteAtomically(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace tiko::tool
