// Background pictures for the player: from memory, or from a PNG or JPEG
// file; and PNG output for what a host shows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tiko/host.h"

namespace tiko::host {

// A picture in memory: top-down BGR24 rows of width * 3 bytes.
struct BgrImage {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> pixels;
};

// Pictures larger than this are refused on reading, so that a hostile file
// cannot ask for gigabytes.
inline constexpr int64_t kMaxImagePixels = int64_t{1} << 26;

// Reads a PNG or a JPEG file (told apart by their first bytes). On failure
// gives nothing and, when `error` is given, says why.
std::optional<BgrImage> ReadImageFile(const std::string& path, std::string* error = nullptr);
// Writes top-down BGR24 pixels as an 8-bit RGB PNG file, quickly (for
// rendered frames); false on failure.
bool WritePngFile(const std::string& path, const uint8_t* pixels, int32_t width, int32_t height,
                  std::string* error = nullptr);
// Nearest-neighbour resize, for fitting a picture to the player's frame.
BgrImage ResizeNearest(const BgrImage& image, int32_t width, int32_t height);

// A background bitmap for Open. The host keeps the object; the player copies
// its pixels and then calls Delete, which lets the pixels go and makes every
// later copy fail, as a deleted bitmap would.
class ImageBitmap final : public HostBitmap {
 public:
  explicit ImageBitmap(BgrImage image);
  // From top-down BGR24 rows of width * 3 bytes.
  ImageBitmap(const uint8_t* pixels, int32_t width, int32_t height);

  // The bottom `lines` rows, bottom line first, `width` pixels each: a wider
  // picture is cut on the right, a narrower one padded with black. Returns the
  // rows copied (no more than the picture has), 0 once deleted.
  int32_t CopyPixels(uint8_t* dst, int32_t width, int32_t lines) override;
  void Delete() override;

  bool deleted() const { return deleted_; }
  const BgrImage& image() const { return image_; }

 private:
  BgrImage image_;
  bool deleted_ = false;
};

}  // namespace tiko::host
