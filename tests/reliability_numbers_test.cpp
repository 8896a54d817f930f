// Hostile numbers: picture sizes whose products overflow 32 bits, counts that
// ask for gigabytes, scripts whose arithmetic runs away over 200000 frames,
// every combination of a step's mode fields, frames at the 65535 limit, and
// paths at the 255-unit limit and their cue paths. No allocation may be
// larger than the file, the frame and the size rules can justify; the testing
// heap reports the largest one asked for.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "anim/scene.h"
#include "anim/step.h"
#include "codec/decoder.h"
#include "image/layout.h"
#include "package/fetch.h"
#include "package/format.h"
#include "package/loader.h"
#include "platform/platform.h"
#include "platform/testing/hooks.h"
#include "player/player.h"
#include "reliability.h"
#include "support/counted_backend.h"
#include "support/package_files.h"
#include "tiko/tiko.h"

namespace tiko {
namespace {

using authoring::MakeStepFlags;
using authoring::PackageDesc;
using authoring::PictureDesc;
using Bytes = std::vector<uint8_t>;
using reliability::FingerprintWindow;
using reliability::PatternBitmap;

constexpr uint64_t kSlack = 4096;  // records and small tables

class ReliabilityNumbers : public test::CountedBackendTest {
 protected:
  test::TempDir dir_;
};

// A step that shows picture 0 at a fixed size, every frame.
ActorStep ShowPicture(int16_t picture = 0) {
  ActorStep s{};
  s.flags = MakeStepFlags({.pictureChange = 1, .width = kSizeSet, .height = kSizeSet, .x = kPosSet, .y = kPosSet,
                           .opacity = kOpacitySet});
  s.pictureIndex = picture;
  s.width = 5000;
  s.height = 5000;
  s.x = 100;
  s.y = 100;
  s.opacity = 100;
  return s;
}

// Bytes of pixel data by the layout rules, in 64 bits without any limit.
uint64_t TrueSize(uint8_t format, uint64_t width, uint64_t height) {
  const uint64_t chromaWidth = (width + 1) / 2, chromaHeight = (height + 1) / 2;
  if (format == kFormatBgr24) return width * height * 3;
  if (format == kFormatYuv422) return chromaWidth * 4 * height;
  return width * height + 2 * chromaWidth * chromaHeight;
}

// A package of one actor whose three steps play the cues "bop", "hi" and "a",
// one per frame.
PackageDesc CuePackage() {
  PackageDesc desc;
  desc.pictures = {test::PatternPicture(kFormatBgr24, kMaskNone, 2, 2, 1, false)};
  std::vector<ActorStep> steps;
  for (const char* cue : {"bop", "hi", "a"}) {
    ActorStep s = ShowPicture();
    s.cueMarker = kCueMarker;
    std::memcpy(s.cueName, cue, std::strlen(cue));
    steps.push_back(s);
  }
  desc.actors = {{u"talker", 0, steps}};
  return desc;
}

// 16-bit sides whose products do not fit 32 bits, in entries whose size
// fields hold what a 32-bit writer would have computed: the products cut to
// 32 bits. The package loads (its tables are sound); the picture is refused
// when fetched, before anything is allocated for it.
TEST_F(ReliabilityNumbers, SizeProductsBeyond32Bits) {
  const struct {
    uint16_t width, height;
  } sides[] = {{65535, 65535}, {65535, 21846}, {21846, 65535}, {46341, 46341}, {65535, 32769}, {32768, 65535}};
  uint64_t cases = 0;
  for (const uint8_t format : {kFormatBgr24, kFormatYuv422, kFormatYuv420}) {
    for (const uint8_t mask : {kMaskNone, kMaskBit, kMaskByte}) {
      for (const auto& side : sides) {
        for (const bool compressed : {false, true}) {
          const uint64_t truePixels = TrueSize(format, side.width, side.height);
          const uint64_t truePlane = (uint64_t{mask} * side.width * side.height + 7) / 8;
          PictureDesc p;
          p.entry.pixelFormat = format;
          p.entry.maskKind = mask;
          p.entry.width = side.width;
          p.entry.height = side.height;
          p.entry.pixelDataSize = static_cast<uint32_t>(truePixels);
          p.entry.maskDataSize = static_cast<uint32_t>(truePlane);
          p.entry.totalSize = static_cast<uint32_t>(truePixels + truePlane);
          // A block that would be well formed, or a few raw bytes; neither may
          // be trusted with the sizes.
          p.stored = Bytes(64, 0x5A);
          p.compressed = compressed;
          if (compressed) WriteU32(p.stored.data(), 64);
          SCOPED_TRACE(::testing::Message() << "layout " << int(format) << " mask " << int(mask) << " "
                                            << side.width << " x " << side.height << (compressed ? " block" : ""));
          ASSERT_GT(truePixels + truePlane, uint64_t{UINT32_MAX} / 2);

          PackageDesc desc;
          desc.pictures = {p};
          desc.actors = {{u"big", 0, {ShowPicture()}}};
          const Bytes bytes = authoring::WritePackage(desc);
          const std::string path = dir_.Write("big.tiko", bytes);
          Package* package = nullptr;
          counting::ResetHeap();
          const Status status = test::Load(path, &package);
          if (p.entry.totalSize == 0) {
            // The cut sum happens to be 0: a picture that cannot exist.
            EXPECT_EQ(status, STATUS_UNSUCCESSFUL);
            continue;
          }
          ASSERT_EQ(status, STATUS_SUCCESS);
          EXPECT_EQ(FetchPicture(package, 0, kFormatBgr24), nullptr);
          std::vector<uint8_t> frame(64 * 48 * 3);
          EXPECT_EQ(RenderScene(package, kFormatBgr24, PackFrameSize(64, 48), frame.data()), STATUS_SUCCESS);
          EXPECT_EQ(package->actors[0].picture, nullptr);
          EXPECT_EQ(package->pictures[0].data, nullptr);
          EXPECT_LE(counting::LargestAllocation(), 2 * bytes.size() + kSlack);
          FreePackage(package);
          ++cases;
        }
      }
    }
  }
  EXPECT_GT(cases, 90u);
}

// The size rules every check above stands on, at the edges of 32 bits: exact
// where the size fits a signed 32-bit field, refused (kNoSize) where it does
// not, for negative sides and for unknown layouts.
TEST_F(ReliabilityNumbers, SizeRulesAtTheLimits) {
  const int32_t sides[] = {0, 1, 2, 3, 65535, 46340, 46341, 26754, 26755, 0x3FFFFFFF, INT32_MAX};
  for (const uint8_t format : {kFormatBgr24, kFormatYuv422, kFormatYuv420}) {
    for (const int32_t width : sides) {
      const uint64_t row = format == kFormatBgr24 ? uint64_t(width) * 3
                           : format == kFormatYuv422 ? (uint64_t(width) + 1) / 2 * 4
                                                     : uint64_t(width);
      EXPECT_EQ(RowSize(format, width), row <= uint64_t{INT32_MAX} ? int64_t(row) : kNoSize)
          << int(format) << " " << width;
      for (const int32_t height : sides) {
        const uint64_t area = uint64_t(width) * uint64_t(height);
        const uint64_t pixels = TrueSize(format, uint64_t(width), uint64_t(height));
        EXPECT_EQ(PixelDataSize(format, width, height),
                  area <= uint64_t{INT32_MAX} && pixels <= uint64_t{INT32_MAX} ? int64_t(pixels) : kNoSize)
            << int(format) << " " << width << " x " << height;
        for (const uint8_t mask : {kMaskNone, kMaskBit, kMaskByte}) {
          const uint64_t plane = (mask * area + 7) / 8;
          EXPECT_EQ(MaskDataSize(mask, width, height), area <= uint64_t{INT32_MAX} ? int64_t(plane) : kNoSize)
              << int(mask) << " " << width << " x " << height;
        }
      }
    }
    EXPECT_EQ(RowSize(format, -1), kNoSize);
    EXPECT_EQ(PixelDataSize(format, -1, 1), kNoSize);
    EXPECT_EQ(PixelDataSize(format, 1, INT32_MIN), kNoSize);
    EXPECT_EQ(MaskDataSize(kMaskByte, INT32_MIN, 1), kNoSize);
  }
  for (const uint8_t unknown : {uint8_t{0}, uint8_t{100}, uint8_t{102}, uint8_t{105}, uint8_t{255}}) {
    EXPECT_FALSE(IsPixelFormat(unknown));
    EXPECT_EQ(RowSize(unknown, 4), kNoSize);
    EXPECT_EQ(PixelDataSize(unknown, 4, 4), kNoSize);
  }
}

TEST_F(ReliabilityNumbers, CountsAndSizesAskingForGigabytes) {
  authoring::PackageLayout layout;
  PackageDesc desc = test::RichPackage();
  const Bytes good = authoring::WritePackage(desc, {}, &layout);
  const uint32_t entry0 = layout.pictureEntries;
  const struct {
    const char* what;
    size_t field;
    uint32_t value;
    bool loads;  // the tables hold; only the picture is refused on fetch
  } cases[] = {
      {"actor count 2^32 - 1", layout.actorList + kActorListFieldCount, 0xFFFFFFFFu, false},
      {"actor count 2^31 - 1", layout.actorList + kActorListFieldCount, 0x7FFFFFFFu, false},
      {"actor count whose table passes 2^32 bytes", layout.actorList + kActorListFieldCount, 0x04924925u, false},
      {"step count 2^32 - 1", layout.actorRecords[0] + kActorFieldStepCount, 0xFFFFFFFFu, false},
      {"step count whose steps wrap to 8 bytes", layout.actorRecords[4] + kActorFieldStepCount, 0x0AAAAAABu, false},
      {"step count 2^31", layout.actorRecords[2] + kActorFieldStepCount, 0x80000000u, false},
      {"picture count 2^32 - 1", layout.pictureList + kPictureListFieldCount, 0xFFFFFFFFu, false},
      {"picture count whose entries wrap to 4 bytes", layout.pictureList + kPictureListFieldCount, 0x04EC4EC5u,
       false},
      {"total size 2^32 - 1", entry0 + 40, 0xFFFFFFFFu, true},
      {"total size 2^31 - 1", entry0 + 40, 0x7FFFFFFFu, true},
      {"pixel data size 2^32 - 1", entry0 + 32, 0xFFFFFFFFu, true},
      {"mask data size 2^31", entry0 + 36, 0x80000000u, true},
      {"width 65535", entry0 + 28, 0x0006FFFFu, true},
      {"height 65535", entry0 + 28, 0xFFFF0008u, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes bytes = good;
    WriteU32(bytes.data() + c.field, c.value);
    const std::string path = dir_.Write("huge.tiko", bytes);
    Package* package = nullptr;
    counting::ResetHeap();
    const Status status = test::Load(path, &package);
    EXPECT_EQ(status, c.loads ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL);
    if (package != nullptr) {
      EXPECT_EQ(FetchPicture(package, 0, kFormatBgr24), nullptr);
      // The other pictures are untouched by the bad entry.
      EXPECT_NE(FetchPicture(package, 1, kFormatBgr24), nullptr);
      FreePackage(package);
    }
    EXPECT_LE(counting::LargestAllocation(), 2 * bytes.size() + kSlack);
  }

  // A block that claims a picture larger than any block of its size can
  // expand to (91 bytes out per byte in): refused before anything is
  // allocated, whatever the block would decode to.
  const PictureDesc p = test::PatternPicture(kFormatBgr24, kMaskNone, 20, 20, 3, true);
  ASSERT_TRUE(p.compressed);
  const uint64_t most = DecodeBlockMaxOutput(uint32_t(p.stored.size()));
  for (const uint16_t side : {uint16_t(std::sqrt(double(most) / 3) + 1), uint16_t{30000}, uint16_t{65535}}) {
    PictureDesc hostile = p;
    hostile.entry.width = side;
    hostile.entry.height = side;
    hostile.entry.pixelDataSize = static_cast<uint32_t>(TrueSize(kFormatBgr24, side, side));
    hostile.entry.totalSize = hostile.entry.pixelDataSize;
    PackageDesc one;
    one.pictures = {hostile};
    const Bytes bytes = authoring::WritePackage(one);
    Package* package = nullptr;
    ASSERT_EQ(test::Load(dir_.Write("block.tiko", bytes), &package), STATUS_SUCCESS);
    counting::ResetHeap();
    EXPECT_EQ(FetchPicture(package, 0, kFormatBgr24), nullptr) << side;
    EXPECT_EQ(counting::AllocationCount(), 0u) << side;
    FreePackage(package);
  }
}

// Scripts whose sizes, positions and opacities are added to every frame, run
// for 200000 frames (in every build: the frames are small): the values wrap
// through negative and back as 32-bit two's complement, and the picture sizes
// in pixels that follow from them never exceed four times the frame's.
TEST_F(ReliabilityNumbers, RunawayScriptArithmetic) {
  constexpr int32_t kWidth = 16, kHeight = 12;
  constexpr int32_t frames = 200000;
  const auto step = [](authoring::StepModes modes, int16_t x, int16_t y, int16_t w, int16_t h, int8_t opacity,
                       int16_t param = 0, int16_t altParam = 0) {
    ActorStep s{};
    s.flags = MakeStepFlags(modes);
    s.x = x, s.y = y, s.width = w, s.height = h, s.opacity = opacity;
    s.advanceParam = param, s.altAdvanceParam = altParam;
    return s;
  };
  PackageDesc desc;
  desc.pictures = {test::PatternPicture(kFormatYuv420, kMaskByte, 7, 5, 1, false),
                   test::PatternPicture(kFormatBgr24, kMaskBit, 3, 9, 2, true),
                   test::PatternPicture(kFormatYuv422, kMaskNone, 1, 1, 3, false)};
  ActorStep grow = step({.pictureChange = 1, .width = kSizeAdd, .height = kSizeAdd, .x = kPosAdd, .y = kPosAdd,
                         .opacity = kOpacityAddClamp},
                        32767, -32768, 32767, 32767, 127);
  ActorStep shrink = step({.advance = kAdvanceJump, .pictureChange = 1, .width = kSizeAdd, .height = kSizeAdd,
                           .x = kPosWrap, .y = kPosClamp, .opacity = kOpacitySet},
                          -32768, 32767, -32768, -32767, -128, 0);
  shrink.pictureIndex = 1;
  ActorStep proportional = step({.advance = kAdvanceSkip, .pictureChange = 1, .width = kSizeAdd,
                                 .height = kSizeProportional, .x = kPosBounce, .y = kPosBounce,
                                 .altAdvance = kAdvanceSkip},
                                -32768, 32767, 32767, 0, 0, -32768, 32767);
  ActorStep tall = step({.advance = kAdvanceRepeat, .pictureChange = 1, .width = kSizeProportional,
                         .height = kSizeAdd, .x = kPosWrap, .y = kPosWrap, .opacity = kOpacityAddClamp},
                        32767, 32767, 0, 32767, -128, -1);
  tall.pictureIndex = 2;
  ActorStep hold = step({.advance = kAdvanceRepeat, .width = kSizeAdd, .height = kSizeAdd, .x = kPosBounce,
                         .y = kPosClamp, .altAdvance = kAdvanceJump},
                        -32768, -32768, 1, -1, 0, 32767, -32768);
  // Up once, then back and forth by the same amount (a script loops over its
  // steps after the first): shown at two sizes in turn, rescaled every frame.
  ActorStep up = step({.pictureChange = 1, .width = kSizeAdd, .height = kSizeAdd, .x = kPosBounce, .y = kPosWrap},
                      9000, -7000, 20000, 10000, 0);
  ActorStep out = up;
  out.width = 10000, out.height = 5000;
  ActorStep back = up;
  back.width = -10000, back.height = -5000;
  desc.actors = {{u"saw", 0, {up, out, back}},
                 {u"grow", 0, {grow}},
                 {u"shrink", 0, {shrink, grow}},
                 {u"prop", 0, {proportional, shrink, proportional}},
                 {u"tall", 0, {tall, hold, grow}},
                 {u"$eye1", -1, {grow, proportional}},
                 {u"$eye2", -1, {tall}}};
  const Bytes bytes = authoring::WritePackage(desc);
  const std::u16string path = test::Wide(dir_.Write("runaway.tiko", bytes));

  FingerprintWindow window(kWidth, kHeight);
  CVyrWindow* player = static_cast<CVyrWindow*>(TikoGetInterface());
  ASSERT_NE(player, nullptr);
  ASSERT_EQ(player->OpenSized(&window, path.c_str(), nullptr, kWidth, kHeight), 1);
  counting::ResetHeap();
  int64_t smallest = 0, largest = 0;
  uint64_t withPicture = 0;
  const int32_t hostile[] = {INT32_MIN, -1, 0, 319, INT32_MAX, 123456789};
  for (int32_t n = 0; n < frames; ++n) {
    if (n % 97 == 0) player->SetEyePosition(hostile[n % 6], hostile[(n / 6) % 6]);
    player->RenderBackground();
    const Package* package = player->package;
    for (uint32_t i = 0; i < package->actorCount; ++i) {
      const Actor& a = package->actors[i];
      ASSERT_TRUE(a.stepIndex >= -1 && a.stepIndex < a.stepCount) << "actor " << i << " frame " << n;
      smallest = std::min<int64_t>({smallest, a.width, a.height});
      largest = std::max<int64_t>({largest, a.width, a.height});
      if (a.picture == nullptr || a.picture->data == nullptr) continue;
      ++withPicture;
      ASSERT_LE(a.picture->width, kMaxPictureToFrame * kWidth) << "actor " << i << " frame " << n;
      ASSERT_LE(a.picture->height, kMaxPictureToFrame * kHeight) << "actor " << i << " frame " << n;
      ASSERT_TRUE(HasLayoutSizes(*a.picture)) << "actor " << i << " frame " << n;
    }
  }
  player->Release();
  // The sizes did run away both ways, and pictures were shown at times.
  EXPECT_LT(smallest, -1000000000);
  EXPECT_GT(largest, 1000000000);
  EXPECT_GT(withPicture, uint64_t(frames) / 4);
  const uint64_t limit = uint64_t{kMaxPictureToFrame * kWidth} * (kMaxPictureToFrame * kHeight) * 4;
  EXPECT_LE(counting::LargestAllocation(), std::max<uint64_t>(limit, 2 * bytes.size()) + kSlack);
  std::printf("runaway scripts: %d frames, sizes from %lld to %lld stage units, %llu actor frames with a picture\n",
              frames, static_cast<long long>(smallest), static_cast<long long>(largest),
              static_cast<unsigned long long>(withPicture));
}

// Every combination of the eight mode fields of a step (2^19), each as the
// two steps of an actor's script with extreme values, run for a few frames;
// then the same with every unused flag bit set, which must change nothing.
TEST_F(ReliabilityNumbers, EveryFlagCombinationOfAStep) {
  constexpr uint32_t kDefinedBits = 19;
  constexpr uint32_t kCombinations = 1u << kDefinedBits;
  constexpr uint32_t kActorsPerPackage = 4096;
  constexpr uint32_t kUnusedBits = 0xFFC00700u;
  constexpr int32_t kWidth = 16, kHeight = 12, kFrames = 5;
  // The fields in flag order: advance 0-2, picture change 3, width 4-5,
  // height 6-7, then (skipping the unused 8-10) x 11-13, y 14-16, opacity
  // 17-18, alternate advance 19-21.
  const auto flags = [](uint32_t combination) { return (combination & 0xFF) | ((combination >> 8) << 11); };
  ASSERT_EQ(flags(kCombinations - 1), 0x003FF8FFu);

  const auto package = [&](uint32_t first, uint32_t extra) {
    PackageDesc desc;
    desc.pictures = {test::PatternPicture(kFormatBgr24, kMaskByte, 4, 3, 1, false)};
    for (uint32_t c = first; c < first + kActorsPerPackage; ++c) {
      ActorStep a{};
      a.flags = flags(c) | extra;
      a.x = 32767, a.y = -32768, a.width = -32768, a.height = 32767;
      a.advanceParam = 32767, a.altAdvanceParam = -32768, a.opacity = 127;
      ActorStep b = a;
      b.x = -32768, b.y = 32767, b.width = 3000, b.height = 2500;
      b.advanceParam = -32768, b.altAdvanceParam = 1, b.opacity = -128;
      desc.actors.push_back({u"c", 0, {a, b}});
    }
    return authoring::WritePackage(desc);
  };
  // What each actor holds after a frame, and the frame.
  struct State {
    std::vector<int32_t> values;
    std::vector<uint8_t> frame;
    bool operator==(const State&) const = default;
  };
  const auto play = [&](const Bytes& bytes) {
    std::vector<State> states;
    Package* loaded = nullptr;
    EXPECT_EQ(test::Load(dir_.Write("flags.tiko", bytes), &loaded), STATUS_SUCCESS);
    if (loaded == nullptr) return states;
    for (int32_t n = 0; n < kFrames; ++n) {
      State s;
      s.frame.assign(size_t{kWidth} * kHeight * 3, 0x40);
      std::vector<int32_t> before(loaded->actorCount);
      for (uint32_t i = 0; i < loaded->actorCount; ++i) before[i] = loaded->actors[i].opacity;
      std::vector<int32_t> ran(loaded->actorCount);
      for (uint32_t i = 0; i < loaded->actorCount; ++i) ran[i] = loaded->actors[i].stepIndex;
      RenderScene(loaded, kFormatBgr24, PackFrameSize(kWidth, kHeight), s.frame.data());
      for (uint32_t i = 0; i < loaded->actorCount; ++i) {
        const Actor& a = loaded->actors[i];
        EXPECT_TRUE(a.stepIndex >= -1 && a.stepIndex < 2) << "actor " << i;
        if (ran[i] >= 0) {
          const ActorStep& step = a.steps[ran[i]];
          const uint32_t mode = OpacityMode(step);
          if (mode == kOpacitySet) {
            EXPECT_EQ(a.opacity, step.opacity);
          } else if (mode == kOpacityAddClamp) {
            EXPECT_TRUE(a.opacity >= 0 && a.opacity <= 100) << a.opacity;
          } else {
            EXPECT_EQ(a.opacity, before[i]);
          }
        }
        if (a.picture != nullptr && a.picture->data != nullptr) {
          EXPECT_LE(a.picture->width, kMaxPictureToFrame * kWidth);
          EXPECT_LE(a.picture->height, kMaxPictureToFrame * kHeight);
        }
        s.values.insert(s.values.end(), {a.x, a.y, a.width, a.height, a.opacity, a.stepIndex, a.repeatCount,
                                         a.altRepeatCount, a.picture != nullptr});
      }
      states.push_back(std::move(s));
    }
    FreePackage(loaded);
    return states;
  };
  uint64_t actors = 0;
  for (const uint64_t chunk : reliability::Cases(0, kCombinations / kActorsPerPackage - 1)) {
    const uint32_t first = static_cast<uint32_t>(chunk) * kActorsPerPackage;
    SCOPED_TRACE("combinations from " + std::to_string(first));
    const Bytes plain = package(first, 0);
    counting::ResetHeap();
    const std::vector<State> states = play(plain);
    EXPECT_LE(counting::LargestAllocation(), 2 * plain.size() + kSlack);
    ASSERT_EQ(states.size(), size_t{kFrames});
    EXPECT_TRUE(states == play(package(first, kUnusedBits))) << "the unused flag bits changed something";
    actors += kActorsPerPackage;
  }
  std::printf("step flags: %llu combinations, %d frames each\n", static_cast<unsigned long long>(actors), kFrames);
}

TEST_F(ReliabilityNumbers, FrameSidesAtThe65535Limit) {
  const std::u16string show = test::Wide(dir_.Write("show.tiko", authoring::WritePackage(test::ShowPackage())));
  const struct {
    int32_t width, height;
    int32_t opened;
  } cases[] = {{65535, 1, 1}, {1, 65535, 1}, {65535, 2, 1}, {65536, 1, 0}, {1, 65536, 0}, {0, 65535, 0},
               {65535, -1, 0}, {INT32_MAX, 1, 0}, {INT32_MIN, INT32_MIN, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height);
    FingerprintWindow window(640, 480);
    PatternBitmap bitmap;
    CTikoPlayer* player = TikoGetInterface();
    ASSERT_NE(player, nullptr);
    counting::ResetHeap();
    ASSERT_EQ(player->OpenSized(&window, show.c_str(), &bitmap, c.width, c.height), c.opened);
    if (c.opened == 1) {
      const size_t frameBytes = size_t(c.width) * size_t(c.height) * 3;
      std::vector<uint8_t> host(frameBytes, 0x33);
      for (int32_t n = 0; n < 40; ++n) {
        if (n % 10 == 0) player->SetEyePosition(n * 8, 120);
        const int32_t onStage = n % 3 == 0 ? player->RenderBackground() : player->Render(host.data(), n % 2);
        EXPECT_EQ(onStage, 1) << n;
      }
      EXPECT_EQ(window.prints.size(), 40u);
      // The frame, the background and pictures of at most four times the
      // frame's sides; nothing of the product of the limits.
      const uint64_t pictureLimit = uint64_t(kMaxPictureToFrame) * uint64_t(c.width) * kMaxPictureToFrame *
                                    uint64_t(c.height) * 4;
      EXPECT_LE(counting::LargestAllocation(), std::max<uint64_t>(frameBytes, pictureLimit) + kSlack);
    } else {
      EXPECT_EQ(bitmap.deleted, 0);
      EXPECT_EQ(counting::AllocationCount(), 0u);
    }
    player->Release();
  }
}

// A directory whose path has exactly `length` units, made of nested
// components each within the file system's name limit.
std::string DirectoryOfLength(const std::string& base, size_t length) {
  std::string path = base;
  EXPECT_LT(base.size() + 2, length);
  while (path.size() < length) {
    const size_t left = length - path.size() - 1;  // after the separator
    const size_t component = left > 200 ? 100 : left;
    path += "/" + std::string(component, 'd');
    std::filesystem::create_directories(path);
  }
  return path;
}

TEST_F(ReliabilityNumbers, PathsAtTheLimitAndCuePathsThatDoNotFit) {
  // One cue per frame: "bop", "hi", "a".
  const PackageDesc desc = CuePackage();
  const Bytes bytes = authoring::WritePackage(desc);
  const struct {
    size_t directory;  // units before the separator
    size_t name;       // units of the file name
    bool opens;
    std::vector<std::string> played;
  } cases[] = {
      {251, 3, true, {"bop", "hi", "a"}},  // 255 units; "<dir>/bop.wav" has 259 and its zero
      {252, 2, true, {"hi", "a"}},          // the cue path of "bop" would need 261
      {253, 1, true, {"a"}},                // and that of "hi" too
      {253, 2, false, {}},                  // 256 units: refused
      {200, 56, false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.directory << " + 1 + " << c.name << " units");
    const std::string directory = DirectoryOfLength(dir_.path(), c.directory);
    const std::string path = directory + "/" + std::string(c.name, 'p');
    ASSERT_EQ(path.size(), c.directory + 1 + c.name);
    authoring::WriteFileBytes(path, bytes);
    const std::u16string wide = test::Wide(path);
    FingerprintWindow window(32, 24);
    CTikoPlayer* player = TikoGetInterface();
    ASSERT_NE(player, nullptr);
    counting::ResetSounds();
    EXPECT_EQ(player->OpenSized(&window, wide.c_str(), nullptr, 32, 24), c.opens ? 1 : 0);
    if (!c.opens) {
      EXPECT_EQ(TikoGetLastError(), TIKO_STATUS_UNSUCCESSFUL);
    }
    EXPECT_EQ(player->ChangePackage(wide.c_str()), c.opens ? 1 : 0);
    for (int32_t n = 0; n < 3; ++n) player->RenderBackground();
    player->Release();
    std::vector<std::u16string> expected;
    for (const std::string& cue : c.played) expected.push_back(test::Wide(directory + "/" + cue + ".wav"));
    EXPECT_EQ(counting::PlayedWaves(), expected);
    EXPECT_EQ(window.waves.size(), expected.size());
    std::filesystem::remove(path);
  }
}

}  // namespace
}  // namespace tiko
