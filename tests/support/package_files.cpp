#include "support/package_files.h"

#include "image/layout.h"
#include "package/format.h"

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>

namespace tiko::test {

TempDir::TempDir() {
#if defined(_WIN32)
  // No mkdtemp here: a random name, until one is new.
  std::random_device random;
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    const auto dir = std::filesystem::temp_directory_path() / ("tiko-test-" + std::to_string(random()));
    if (std::filesystem::create_directory(dir)) path_ = dir.string();
  }
  if (path_.empty()) throw std::runtime_error("no temporary directory");
#else
  std::string pattern = (std::filesystem::temp_directory_path() / "tiko-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
#endif
}

TempDir::~TempDir() {
  if (std::getenv("TIKO_KEEP_TEMP") != nullptr) return;
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
  const uint32_t pixels = uint32_t{width} * height;
  std::vector<uint8_t> data(pixels * 3 + (maskKind * pixels + 7) / 8);
  uint32_t state = seed * 2654435761u + 1;
  for (auto& byte : data) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<uint8_t>(state >> 24);
  }
  return authoring::MakePicture(kFormatBgr24, maskKind, width, height, std::move(data), false);
}

authoring::PictureDesc PatternPicture(uint8_t format, uint8_t maskKind, uint16_t width, uint16_t height,
                                      uint32_t seed, bool compress) {
  const int64_t pixelSize = PixelDataSize(format, width, height);
  const int64_t maskSize = MaskDataSize(maskKind, width, height);
  std::vector<uint8_t> data(static_cast<size_t>(pixelSize + maskSize));
  for (int64_t i = 0; i < pixelSize; ++i) data[i] = static_cast<uint8_t>((i * (seed + 3)) / 7);
  // The plane: a disc of weights (8-bit) or of set bits (1-bit).
  const int64_t pixels = int64_t{width} * height;
  for (int64_t i = 0; i < pixels && maskKind != kMaskNone; ++i) {
    const int64_t x = i % width - width / 2, y = i / width - height / 2;
    const int64_t r2 = (x * x + y * y) * 4;
    const int64_t limit = int64_t{width} * width;
    if (maskKind == kMaskByte) {
      data[pixelSize + i] = static_cast<uint8_t>(r2 >= limit ? 0 : 255 - 255 * r2 / limit);
    } else if (r2 < limit) {
      data[pixelSize + i / 8] |= static_cast<uint8_t>(1u << (i % 8));
    }
  }
  return authoring::MakePicture(format, maskKind, width, height, std::move(data), compress);
}

std::vector<uint8_t> Patched(std::vector<uint8_t> bytes, const FieldPatch& patch) {
  WriteU32(bytes.data() + patch.field, patch.value);
  return bytes;
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

authoring::PackageDesc ShowPackage() {
  using authoring::MakeStepFlags;
  authoring::PackageDesc desc;
  desc.pictures = {
      PatternPicture(kFormatBgr24, kMaskNone, 80, 60, 1, true),   // 0 backdrop
      PatternPicture(kFormatYuv420, kMaskByte, 33, 31, 2, true),  // 1 ball
      PatternPicture(kFormatYuv422, kMaskBit, 47, 12, 3, false),  // 2 stripe
      PatternPicture(kFormatBgr24, kMaskBit, 24, 24, 4, true),    // 3 pulse
      PatternPicture(kFormatYuv420, kMaskNone, 9, 7, 5, false),   // 4 eye
      PatternPicture(kFormatBgr24, kMaskByte, 40, 20, 6, false),  // 5 banner
      PatternPicture(kFormatYuv422, kMaskByte, 16, 16, 7, true),  // 6 stripe, second look
  };
  desc.defaultPicture = 0;
  const auto step = [](authoring::StepModes modes, int16_t advanceParam = 0) {
    ActorStep s{};
    s.flags = MakeStepFlags(modes);
    s.advanceParam = advanceParam;
    return s;
  };
  constexpr uint32_t kNone = kAltAdvanceNone;

  // The backdrop fills the stage, darkening in steps every 50 frames.
  ActorStep b0 = step({.pictureChange = 1, .width = kSizeSet, .height = kSizeSet, .x = kPosSet, .y = kPosSet,
                       .opacity = kOpacitySet, .altAdvance = kNone});
  b0.width = 10000, b0.height = 7500, b0.opacity = 40;
  ActorStep b1 = step({.advance = kAdvanceRepeat, .altAdvance = kNone}, 48);
  ActorStep b2 = step({.opacity = kOpacityAddClamp, .altAdvance = kNone});
  b2.opacity = 15;

  // The ball bounces; every edge hit plays a cue and skips back to itself.
  ActorStep l0 = step({.pictureChange = 1, .width = kSizeSet, .height = kSizeProportional, .x = kPosSet,
                       .y = kPosSet, .altAdvance = kNone});
  l0.pictureIndex = 1, l0.width = 1800, l0.x = 300, l0.y = 5000;
  ActorStep l1 = step({.advance = kAdvanceJump, .x = kPosBounce, .y = kPosBounce, .altAdvance = kAdvanceSkip}, 1);
  l1.x = 377, l1.y = -291, l1.altAdvanceParam = 1;
  ActorStep l2 = step({.advance = kAdvanceSkip, .width = kSizeAdd, .height = kSizeProportional, .altAdvance = kNone},
                      -1);
  l2.width = 25, l2.cueMarker = '$';
  std::memcpy(l2.cueName, "bop", 3);

  // The stripe wraps around and switches between two looks.
  ActorStep s0 = step({.pictureChange = 1, .width = kSizeSet, .height = kSizeSet, .x = kPosSet, .y = kPosSet,
                       .altAdvance = kNone});
  s0.pictureIndex = 2, s0.width = 4000, s0.height = 900, s0.x = 9000, s0.y = 200;
  ActorStep s1 = step({.advance = kAdvanceRepeat, .x = kPosWrap, .altAdvance = 0}, 12);
  s1.x = 250;
  ActorStep s2 = step({.advance = kAdvanceRepeat, .pictureChange = 1, .x = kPosWrap, .altAdvance = kNone}, 5);
  s2.pictureIndex = 6, s2.x = 400;
  ActorStep s3 = step({.advance = kAdvanceJump, .pictureChange = 1, .x = kPosAdd, .altAdvance = kNone}, 1);
  s3.pictureIndex = 2, s3.x = 100;

  // The pulse grows and shrinks at an opacity above 100, clamped at the top.
  ActorStep p0 = step({.pictureChange = 1, .width = kSizeSet, .height = kSizeSet, .x = kPosSet, .y = kPosSet,
                       .opacity = kOpacitySet, .altAdvance = kNone});
  p0.pictureIndex = 3, p0.width = 500, p0.height = 500, p0.x = 7000, p0.y = 6000, p0.opacity = 120;
  ActorStep p1 = step({.advance = kAdvanceRepeat, .width = kSizeAdd, .height = kSizeAdd, .x = kPosAdd, .y = kPosClamp,
                       .altAdvance = kNone},
                      20);
  p1.width = 60, p1.height = 60, p1.x = -30, p1.y = 20;
  ActorStep p2 = p1;
  p2.width = -60, p2.height = -60, p2.x = 30, p2.y = -20;

  // The banner slides in, holds, says something and leaves for good.
  ActorStep n0 = step({.pictureChange = 1, .width = kSizeSet, .height = kSizeProportional, .x = kPosSet, .y = kPosSet,
                       .opacity = kOpacitySet, .altAdvance = kNone});
  n0.pictureIndex = 5, n0.width = 3000, n0.x = -3000, n0.y = 3000, n0.opacity = 90;
  ActorStep n1 = step({.advance = kAdvanceRepeat, .x = kPosAdd, .altAdvance = kNone}, 40);
  n1.x = 110;
  ActorStep n2 = step({.advance = kAdvanceRepeat, .altAdvance = kNone}, 60);
  n2.cueMarker = '$';
  std::memcpy(n2.cueName, "hi", 2);
  ActorStep n3 = step({.advance = kAdvanceHide, .y = kPosAdd, .altAdvance = kNone});
  n3.y = 500;

  ActorStep eye = step({.pictureChange = 1, .width = kSizeSet, .height = kSizeProportional, .altAdvance = kNone});
  eye.pictureIndex = 4, eye.width = 600;

  desc.actors = {
      {u"backdrop", 0, {b0, b1, b2}},
      {u"ball", 0, {l0, l1, l2}},
      {u"stripe", 0, {s0, s1, s2, s3}},
      {u"pulse", 0, {p0, p1, p2}},
      {u"banner", 0, {n0, n1, n2, n3}},
      {u"$eye1", -1, {eye}},
      {u"$eye2", -1, {eye}},
  };
  return desc;
}

}  // namespace tiko::test
