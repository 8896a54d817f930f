// PNG pictures with their alpha channel, for authoring tools: packages keep
// a picture's transparency beside its colours.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tiko::host {

// Top-down RGBA rows of width * 4 bytes.
struct RgbaImage {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> pixels;
};

// Reads any PNG as 8-bit RGBA (pictures without alpha come out opaque).
// Refuses pictures of more than `maxSide` pixels across or down.
std::optional<RgbaImage> ReadPngRgba(const std::string& path, int32_t maxSide, std::string* error);

// Writes an 8-bit RGBA PNG, or RGB when `withAlpha` is false.
bool WritePngRgba(const std::string& path, const RgbaImage& image, bool withAlpha, std::string* error);
// The bytes WritePngRgba writes; empty with `error` set on failure.
std::vector<uint8_t> EncodePngRgba(const RgbaImage& image, bool withAlpha, std::string* error);

// The pixels a PNG is made from: top-down rows without padding.
enum class PngPixels { kBgr, kRgb, kRgba };

// How hard the encoder tries: the smallest file (pictures people keep and
// edit), or a quick one (rendered frames: one filter, lighter compression,
// as small as the usual video tools' PNG files at a fraction of the time).
enum class PngEffort { kSmallest, kQuick };

// The PNG file's bytes, 8 bits a channel; empty with `error` set when the
// encoder fails.
std::vector<uint8_t> EncodePng(const uint8_t* pixels, int32_t width, int32_t height, PngPixels layout,
                               PngEffort effort, std::string* error);

}  // namespace tiko::host
