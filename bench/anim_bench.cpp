// Whole-scene rendering and the compositor, with pixman's OVER composite of
// an r8g8b8 picture through an a8 mask and libyuv's ARGBBlend (4-byte pixels,
// alpha in the picture) as the peers for the blend. tiko's benchmarks take the
// kernel set as their last argument (0 the scalar references, 1 SSE4.1,
// 2 AVX2); a set the processor lacks is skipped.
#include <benchmark/benchmark.h>
#include <pixman.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "anim/blend.h"
#include "anim/scene.h"
#include "image/kernel_set.h"
#include "kernel_set_run.h"
#include "package/loader.h"
#include "authoring/writer.h"

#if TIKO_HAVE_LIBYUV
#include <libyuv.h>
#endif

namespace tiko {
namespace {

using authoring::MakeStepFlags;


constexpr int64_t kScalarSet = kKernelsScalar;
constexpr int64_t kBestSet = kKernelsAvx2;

std::vector<uint8_t> SpriteData(uint16_t w, uint16_t h, uint32_t seed) {
  std::vector<uint8_t> data(size_t(w) * h * 4);
  for (size_t i = 0; i < size_t(w) * h * 3; ++i) data[i] = static_cast<uint8_t>(i * (seed + 1) / 5);
  for (size_t i = 0; i < size_t(w) * h; ++i) {
    const int x = int(i % w) - w / 2, y = int(i / w) - h / 2;
    const int r2 = 4 * (x * x + y * y), limit = w * w;
    data[size_t(w) * h * 3 + i] = static_cast<uint8_t>(r2 >= limit ? 0 : 255 - 255 * r2 / limit);
  }
  return data;
}

ActorStep Place(int16_t picture, int16_t x, int16_t y, int16_t w, int16_t h) {
  ActorStep s{};
  s.flags = MakeStepFlags({.pictureChange = 1, .width = kSizeSet, .height = kSizeSet, .x = kPosSet, .y = kPosSet,
                           .altAdvance = kAltAdvanceNone});
  s.pictureIndex = picture, s.x = x, s.y = y, s.width = w, s.height = h;
  return s;
}

ActorStep Move(int16_t dx, int16_t dy) {
  ActorStep s{};
  s.flags = MakeStepFlags({.advance = kAdvanceJump, .x = kPosBounce, .y = kPosBounce, .altAdvance = kAltAdvanceNone});
  s.x = dx, s.y = dy, s.advanceParam = 1;
  return s;
}

// Scenes: 0 eight 64 x 64 sprites; 1 two full-frame alpha pictures and six
// sprites; 2 one actor resized on every frame. Sizes are in stage units, so
// the sprites are 64 x 64 pixels at 320 x 240 and twice that at 640 x 480.
authoring::PackageDesc Scene(int which) {
  authoring::PackageDesc desc;
  desc.pictures.push_back(authoring::MakePicture(kFormatBgr24, kMaskByte, 64, 64, SpriteData(64, 64, 1), true));
  desc.pictures.push_back(authoring::MakePicture(kFormatBgr24, kMaskByte, 320, 240, SpriteData(320, 240, 2), true));
  const int sprites = which == 0 ? 8 : (which == 1 ? 6 : 0);
  if (which == 1) {
    desc.actors.push_back({u"full1", 0, {Place(1, 0, 0, 10000, 7500), Move(0, 0)}});
    desc.actors.push_back({u"full2", 0, {Place(1, 0, 0, 10000, 7500), Move(0, 0)}});
  }
  for (int i = 0; i < sprites; ++i) {
    desc.actors.push_back({u"sprite", 0,
                           {Place(0, static_cast<int16_t>(500 + 1000 * i), static_cast<int16_t>(300 + 700 * i), 2000,
                                  2000),
                            Move(static_cast<int16_t>(37 + 11 * i), static_cast<int16_t>(-29 + 7 * i))}});
  }
  if (which == 2) {
    ActorStep grow{};
    grow.flags = MakeStepFlags({.advance = kAdvanceRepeat, .width = kSizeAdd, .height = kSizeProportional,
                                .altAdvance = kAltAdvanceNone});
    grow.width = 50, grow.advanceParam = 40;
    ActorStep shrink = grow;
    shrink.width = -50;
    desc.actors.push_back({u"zoom", 0, {Place(0, 1000, 1000, 3000, 3000), grow, shrink}});
  }
  return desc;
}

void BM_RenderScene(benchmark::State& state) {
  const int which = static_cast<int>(state.range(0));
  const int32_t width = static_cast<int32_t>(state.range(1)), height = width * 3 / 4;
  KernelSetRun run(state, state.range(2));
  if (!run.ok()) return;
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("tiko-scene-" + std::to_string(getpid()) + "-" + std::to_string(which) + ".tiko"))
                               .string();
  authoring::WriteFileBytes(path, authoring::WritePackage(Scene(which)));
  Package* package = nullptr;
  const std::u16string wide(path.begin(), path.end());
  if (LoadPackage(wide.c_str(), &package) != STATUS_SUCCESS) {
    state.SkipWithError("load failed");
    return;
  }
  std::vector<uint8_t> background(size_t(width) * height * 3, 90), frame(background.size());
  for (auto _ : state) {
    std::memcpy(frame.data(), background.data(), frame.size());
    benchmark::DoNotOptimize(RenderScene(package, kFormatBgr24, PackFrameSize(width, height), frame.data()));
  }
  state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  FreePackage(package);
  std::filesystem::remove(path);
}
BENCHMARK(BM_RenderScene)
    ->ArgNames({"scene", "width", "set"})
    ->ArgsProduct({{0, 1, 2}, {320, 640}, {kScalarSet, kBestSet}})
    ->Unit(benchmark::kMicrosecond);

// A 256 x 256 picture blended whole into a 320 x 240 frame region.
constexpr int32_t kSide = 256;

struct BlendInput {
  BlendInput(uint8_t kind) : bytes(SpriteData(kSide, kSide, 3)) {
    image.width = image.height = kSide;
    image.pixelFormat = kFormatBgr24;
    image.maskKind = kind;
    image.pixelDataSize = kSide * kSide * 3;
    image.maskDataSize = (kind * kSide * kSide + 7) / 8;
    image.totalSize = image.pixelDataSize + image.maskDataSize;
    if (kind == kMaskBit) {
      for (int i = 0; i < kSide * kSide; ++i) {
        bytes[size_t(image.pixelDataSize) + i / 8] = (i % 3) ? 0xB7 : 0x5C;
      }
    }
    image.data = bytes.data();
  }
  std::vector<uint8_t> bytes;
  Image image{};
};

void BM_BlendPicture(benchmark::State& state) {
  const uint8_t kind = static_cast<uint8_t>(state.range(0));
  const int32_t opacity = static_cast<int32_t>(state.range(1));
  KernelSetRun run(state, state.range(2));
  if (!run.ok()) return;
  BlendInput input(kind);
  std::vector<uint8_t> frame(size_t(kSide) * kSide * 3, 77);
  for (auto _ : state) {
    BlendPicture(&input.image, kFormatBgr24, kSide, kSide, frame.data(), 0, 0, opacity);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_BlendPicture)
    ->ArgNames({"mask", "opacity", "set"})
    ->ArgsProduct({{8}, {100, 50}, {kScalarSet, kKernelsSse41, kBestSet}})
    ->ArgsProduct({{1}, {100, 50}, {kScalarSet, kKernelsSse41, kBestSet}});

void BM_PixmanOver(benchmark::State& state) {
  BlendInput input(kMaskByte);
  std::vector<uint8_t> frame(size_t(kSide) * kSide * 3, 77);
  // pixman wants strides that are multiples of 4: 256 x 3 is.
  pixman_image_t* src = pixman_image_create_bits(PIXMAN_r8g8b8, kSide, kSide,
                                                 reinterpret_cast<uint32_t*>(input.bytes.data()), kSide * 3);
  pixman_image_t* mask = pixman_image_create_bits(
      PIXMAN_a8, kSide, kSide, reinterpret_cast<uint32_t*>(input.bytes.data() + kSide * kSide * 3), kSide);
  pixman_image_t* dst =
      pixman_image_create_bits(PIXMAN_r8g8b8, kSide, kSide, reinterpret_cast<uint32_t*>(frame.data()), kSide * 3);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_OVER, src, mask, dst, 0, 0, 0, 0, 0, 0, kSide, kSide);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
  pixman_image_unref(src);
  pixman_image_unref(mask);
  pixman_image_unref(dst);
}
BENCHMARK(BM_PixmanOver);

#if TIKO_HAVE_LIBYUV
// The same picture as 4-byte pixels with the alpha plane in them, premultiplied
// as ARGBBlend wants, over an opaque frame of 4-byte pixels.
void BM_LibyuvARGBBlend(benchmark::State& state) {
  BlendInput input(kMaskByte);
  std::vector<uint8_t> argb(size_t(kSide) * kSide * 4), premultiplied(argb.size());
  for (size_t i = 0; i < size_t(kSide) * kSide; ++i) {
    std::memcpy(&argb[i * 4], &input.bytes[i * 3], 3);
    argb[i * 4 + 3] = input.bytes[size_t(kSide) * kSide * 3 + i];
  }
  libyuv::ARGBAttenuate(argb.data(), kSide * 4, premultiplied.data(), kSide * 4, kSide, kSide);
  std::vector<uint8_t> frame(argb.size(), 77);
  for (size_t i = 3; i < frame.size(); i += 4) frame[i] = 255;
  for (auto _ : state) {
    libyuv::ARGBBlend(premultiplied.data(), kSide * 4, frame.data(), kSide * 4, frame.data(), kSide * 4, kSide, kSide);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_LibyuvARGBBlend);
#endif

}  // namespace
}  // namespace tiko

BENCHMARK_MAIN();
