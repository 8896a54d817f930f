#include "support/disc_package.h"

#include "image/layout.h"

namespace tiko::test {

authoring::PackageDesc DiscPackage() {
  constexpr uint16_t kSide = 64;
  std::vector<uint8_t> data(size_t(kSide) * kSide * 3, 255);
  const size_t planeAt = data.size();
  data.resize(planeAt + static_cast<size_t>(MaskDataSize(kMaskBit, kSide, kSide)), 0);
  for (int i = 0; i < kSide * kSide; ++i) {
    const int x = i % kSide - kSide / 2, y = i / kSide - kSide / 2;
    if ((x * x + y * y) * 4 < kSide * kSide) data[planeAt + i / 8] |= static_cast<uint8_t>(1u << (i % 8));
  }
  authoring::PackageDesc desc;
  desc.pictures = {authoring::MakePicture(kFormatBgr24, kMaskBit, kSide, kSide, std::move(data), false)};
  const ActorStep show = authoring::MakeStep(
      {.pictureChange = 1, .width = kSizeSet, .height = kSizeProportional, .x = kPosSet, .y = kPosSet,
       .altAdvance = kAltAdvanceNone},
      {.x = kStageWidth / 2 - kStageWidth / 10, .y = kStageHeight / 2 - kStageWidth / 10, .width = kStageWidth / 5});
  desc.actors = {{u"disc", 0, {show}}};
  return desc;
}

Box WhiteBox(const host::BgrImage& image) {
  Box box;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      const uint8_t* p = image.pixels.data() + (static_cast<size_t>(y) * image.width + x) * 3;
      if (p[0] > 200 && p[1] > 200 && p[2] > 200) {
        box = Box{std::min(box.left, x), std::min(box.top, y), std::max(box.right, x), std::max(box.bottom, y)};
      }
    }
  }
  return box;
}

}  // namespace tiko::test
