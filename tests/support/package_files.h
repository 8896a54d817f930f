// Test support: package files on disk and descriptions to build them from.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "package/loader.h"
#include "authoring/writer.h"

namespace tiko::test {

// A directory under the system's temporary directory, removed with its
// contents when the object goes (kept when TIKO_KEEP_TEMP is set, for
// looking at what a failed test wrote).
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // Writes `bytes` to a file of this name in the directory; returns its path.
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const;

 private:
  std::string path_;
};

std::u16string Wide(const std::string& path);

// Loads a package through the player's loader.
Status Load(const std::string& path, Package** slot);

// A picture in any layout with a ramp pattern that depends on `seed` (and
// compresses); its plane has a disc in it.
authoring::PictureDesc PatternPicture(uint8_t format, uint8_t maskKind, uint16_t width, uint16_t height,
                                      uint32_t seed, bool compress);

// A raw BGR24 picture of the given size with a mask plane of `maskKind`,
// filled with a pattern derived from `seed`.
authoring::PictureDesc RawBgrPicture(uint16_t width, uint16_t height, uint8_t maskKind, uint32_t seed);

// A package with a bit of everything: several actors (eye actors among them),
// steps with every mode field used, pictures with every mask kind.
authoring::PackageDesc RichPackage();

// One 32-bit field of a written package set to a bad value, for tables of
// damaged files.
struct FieldPatch {
  const char* what;
  size_t field;  // its offset in the file
  uint32_t value;
};
// The bytes with the patch laid in.
std::vector<uint8_t> Patched(std::vector<uint8_t> bytes, const FieldPatch& patch);

// A show: pictures in all three layouts, raw and compressed, with 1-bit and
// 8-bit planes; actors that move in every mode, resize, fade, change pictures,
// play cues and hide; and the two eye actors.
authoring::PackageDesc ShowPackage();

}  // namespace tiko::test
