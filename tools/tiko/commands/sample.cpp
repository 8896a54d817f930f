// tiko sample: writes a small package that shows the main features of the
// format: a bouncing ball, a fading banner and the two eye followers.
#include <cmath>

#include "commands.h"
#include "authoring/writer.h"

namespace tiko::tool {
namespace {

using authoring::ActorDesc;
using authoring::MakeStepFlags;
using authoring::PictureDesc;
using authoring::StepModes;

// A BGR24 picture with an 8-bit weight plane, stored raw.
PictureDesc Disc(uint16_t size, uint8_t b, uint8_t g, uint8_t r) {
  const uint32_t pixels = uint32_t{size} * size;
  std::vector<uint8_t> data(pixels * 4);
  const double c = (size - 1) / 2.0;
  for (uint32_t y = 0; y < size; ++y) {
    for (uint32_t x = 0; x < size; ++x) {
      const uint32_t i = y * size + x;
      const double d = std::hypot(x - c, y - c) / (size / 2.0);
      const double shade = 1.0 - 0.5 * d;
      data[3 * i] = static_cast<uint8_t>(b * shade);
      data[3 * i + 1] = static_cast<uint8_t>(g * shade);
      data[3 * i + 2] = static_cast<uint8_t>(r * shade);
      data[pixels * 3 + i] = d >= 1.0 ? 0 : static_cast<uint8_t>(255 * std::min(1.0, (1.0 - d) * 8));
    }
  }
  return authoring::MakePicture(kFormatBgr24, kMaskByte, size, size, std::move(data), false);
}

// A BGR24 stripe pattern with a 1-bit plane, stored raw.
PictureDesc Banner(uint16_t width, uint16_t height) {
  const uint32_t pixels = uint32_t{width} * height;
  std::vector<uint8_t> data(pixels * 3 + (pixels + 7) / 8, 0);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t i = y * width + x;
      const bool stripe = ((x + y) / 6) % 2 == 0;
      data[3 * i] = stripe ? 40 : 220;
      data[3 * i + 1] = stripe ? 180 : 220;
      data[3 * i + 2] = stripe ? 250 : 220;
      const bool drawn = y > 1 && y + 2 < height;  // a thin transparent border
      if (drawn) data[pixels * 3 + i / 8] |= static_cast<uint8_t>(1u << (i % 8));
    }
  }
  return authoring::MakePicture(kFormatBgr24, kMaskBit, width, height, std::move(data), false);
}

ActorStep Step(const StepModes& modes) {
  ActorStep s{};
  s.flags = MakeStepFlags(modes);
  return s;
}

authoring::PackageDesc SamplePackage() {
  authoring::PackageDesc desc;
  desc.pictures = {Disc(48, 40, 80, 230), Banner(160, 24), Disc(16, 250, 250, 250)};
  desc.defaultPicture = 0;

  // The ball: picture and size once, then it bounces around the stage for good.
  ActorDesc ball{u"ball", 0, {}};
  ActorStep first = Step({.pictureChange = 1, .width = kSizeSet, .height = kSizeProportional, .x = kPosSet,
                          .y = kPosSet, .altAdvance = kAltAdvanceNone});
  first.pictureIndex = 0;
  first.width = 1500;
  first.x = 1000;
  first.y = 4000;
  ActorStep move = Step({.advance = kAdvanceJump, .x = kPosBounce, .y = kPosBounce, .altAdvance = kAltAdvanceNone});
  move.x = 130;
  move.y = -90;
  move.advanceParam = 1;  // stay on this step
  ball.steps = {first, move};

  // The banner fades in, holds, fades out and hides.
  ActorDesc banner{u"banner", 0, {}};
  ActorStep show = Step({.pictureChange = 1, .width = kSizeSet, .height = kSizeSet, .x = kPosSet, .y = kPosSet,
                         .opacity = kOpacitySet, .altAdvance = kAltAdvanceNone});
  show.pictureIndex = 1;
  show.width = 5000;
  show.height = 750;
  show.x = 2500;
  show.y = 500;
  show.opacity = 0;
  ActorStep fadeIn = Step({.advance = kAdvanceRepeat, .opacity = kOpacityAddClamp, .altAdvance = kAltAdvanceNone});
  fadeIn.opacity = 5;
  fadeIn.advanceParam = 20;
  ActorStep fadeOut = fadeIn;
  fadeOut.opacity = -5;
  ActorStep hide = Step({.advance = kAdvanceHide, .altAdvance = kAltAdvanceNone});
  banner.steps = {show, fadeIn, fadeOut, hide};

  // The eye followers start hidden until the host reports eyes.
  ActorStep eyeStep = Step({.pictureChange = 1, .width = kSizeSet, .height = kSizeProportional,
                            .altAdvance = kAltAdvanceNone});
  eyeStep.pictureIndex = 2;
  eyeStep.width = 400;
  eyeStep.advanceParam = 0;
  desc.actors = {ball, banner, ActorDesc{u"$eye1", -1, {eyeStep}}, ActorDesc{u"$eye2", -1, {eyeStep}}};
  return desc;
}

}  // namespace

Runner AddSample(CLI::App& app) {
  auto* cmd = app.add_subcommand("sample", "Write a small sample package");
  auto output = std::make_shared<std::string>();
  cmd->add_option("-o,--output", *output, "Package file to write")->required();
  return [output]() {
    try {
      authoring::WriteFileBytes(*output, authoring::WritePackage(SamplePackage()));
    } catch (const authoring::PackageError& e) {
      PrintError(e.what());
      return kExitFailure;
    }
    return 0;
  };
}

}  // namespace tiko::tool
