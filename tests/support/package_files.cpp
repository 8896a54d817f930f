#include "support/package_files.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace tiko::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tiko-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
  const std::string file = path_ + "/" + name;
  authoring::WriteFileBytes(file, bytes);
  return file;
}

std::u16string Wide(const std::string& path) { return std::u16string(path.begin(), path.end()); }

Status Load(const std::string& path, Package** slot) { return LoadPackage(Wide(path).c_str(), slot); }

authoring::PictureDesc RawBgrPicture(uint16_t width, uint16_t height, uint8_t maskKind, uint32_t seed) {
  authoring::PictureDesc p;
  const uint32_t pixels = uint32_t{width} * height;
  p.entry.pixelFormat = kFormatBgr24;
  p.entry.maskKind = maskKind;
  p.entry.width = width;
  p.entry.height = height;
  p.entry.pixelDataSize = pixels * 3;
  p.entry.maskDataSize = (maskKind * pixels + 7) / 8;
  p.entry.totalSize = p.entry.pixelDataSize + p.entry.maskDataSize;
  p.stored.resize(p.entry.totalSize);
  uint32_t state = seed * 2654435761u + 1;
  for (auto& byte : p.stored) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<uint8_t>(state >> 24);
  }
  return p;
}

authoring::PackageDesc RichPackage() {
  using authoring::MakeStepFlags;
  authoring::PackageDesc desc;
  desc.pictures = {RawBgrPicture(8, 6, kMaskNone, 1), RawBgrPicture(5, 3, kMaskBit, 2),
                   RawBgrPicture(4, 4, kMaskByte, 3)};
  desc.defaultPicture = 1;
  std::vector<ActorStep> steps;
  for (uint32_t i = 0; i < 8; ++i) {
    ActorStep s{};
    s.flags = MakeStepFlags({.advance = i, .pictureChange = i % 2, .width = i % 4, .height = (i + 1) % 4,
                             .x = i, .y = 7 - i, .opacity = i % 4, .altAdvance = (i + 3) % 8});
    s.x = static_cast<int16_t>(100 * i - 300);
    s.y = static_cast<int16_t>(-50 * i);
    s.width = static_cast<int16_t>(1000 + i);
    s.height = static_cast<int16_t>(700 + i);
    s.pictureIndex = static_cast<int16_t>(i % 3);
    s.advanceParam = static_cast<int16_t>(i);
    s.altAdvanceParam = static_cast<int16_t>(-static_cast<int32_t>(i));
    s.opacity = static_cast<int8_t>(10 * i);
    s.cueMarker = i == 3 ? '$' : 0;
    s.cueName[0] = 'a';
    s.cueName[1] = 'b';
    steps.push_back(s);
  }
  desc.actors = {
      {u"background", 0, {steps[0], steps[1]}},
      {u"$Eye1", -1, {steps[2]}},
      {u"$EYE2", 0, {steps[3], steps[4], steps[5]}},
      {u"empty", 0, {}},
      {u"spinner", 7, steps},
  };
  return desc;
}

}  // namespace tiko::test
