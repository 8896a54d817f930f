// Colour conversion and rescaling, tiko's scalar reference kernels beside
// libyuv. Throughput is in pixels (items) per second: source pixels for the
// conversions, destination pixels for the rescales.
//
// Conversions run one direction at a time over whole frames with the row
// kernels into ready buffers (as libyuv writes into the caller's buffers), and
// as a round trip through the in-place conversions the player uses (a new
// block per step). libyuv has no direct RGB24 <-> YUY2 conversion, so its 4:2:2
// pair goes through ARGB (RGB24ToARGB + ARGBToYUY2, YUY2ToARGB + ARGBToRGB24).
// libyuv's RGB24 is blue, green, red in memory: the same bytes as BGR24.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "image/convert.h"
#include "image/layout.h"
#include "image/scale.h"
#include "package/heap.h"

#if TIKO_HAVE_LIBYUV
#include <libyuv.h>
#include <libyuv/scale_rgb.h>
#endif

namespace tiko {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes RandomBytes(size_t n) {
  std::mt19937 rng(42);
  Bytes out(n);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

// A smooth test picture: gradients with a little noise, closer to a real
// picture than noise alone.
Bytes Picture(int width, int height) {
  Bytes noise = RandomBytes(size_t(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &noise[(size_t(y) * width + x) * 3];
      p[0] = uint8_t(x * 255 / width + p[0] % 8);
      p[1] = uint8_t(y * 255 / height + p[1] % 8);
      p[2] = uint8_t((x + y) * 127 / (width + height) + p[2] % 8);
    }
  }
  return noise;
}

// The test picture in a YUV layout, as the player's conversion stores it, so
// that the decoders see realistic values (random bytes would clamp at every
// other pixel and measure branch misses instead).
Bytes Converted(int width, int height, uint8_t format) {
  const Bytes bgr = Picture(width, height);
  Image image{};
  image.width = width;
  image.height = height;
  image.pixelFormat = kFormatBgr24;
  image.pixelDataSize = image.totalSize = width * height * 3;
  image.data = static_cast<uint8_t*>(MemAlloc(bgr.size(), 0));
  std::memcpy(image.data, bgr.data(), bgr.size());
  ConvertImage(&image, format);
  Bytes out(image.data, image.data + image.pixelDataSize);
  MemFree(image.data);
  return out;
}

void Report(benchmark::State& state, int64_t pixelsPerIteration) {
  state.SetItemsProcessed(state.iterations() * pixelsPerIteration);
}

// ---- BGR24 <-> 4:2:0 -------------------------------------------------------

void BM_BgrTo420_Tiko(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  const Bytes bgr = Picture(w, h);
  Bytes out(size_t(PixelDataSize(kFormatYuv420, w, h)));
  std::vector<double> means(size_t(ChromaWidth(w)) * 2);
  const size_t cw = size_t(ChromaWidth(w)), chroma = cw * size_t(ChromaHeight(h));
  for (auto _ : state) {
    uint8_t* u = out.data() + size_t(w) * h;
    uint8_t* v = u + chroma;
    for (int y = 0; y < h; y += 2) {
      BgrEvenRowToYuv420_Ref(&bgr[size_t(y) * w * 3], w, &out[size_t(y) * w], means.data());
      BgrOddRowToYuv420_Ref(&bgr[size_t(y + 1) * w * 3], w, means.data(), &out[size_t(y + 1) * w],
                            u + size_t(y / 2) * cw, v + size_t(y / 2) * cw);
    }
    benchmark::DoNotOptimize(out.data());
  }
  Report(state, int64_t{w} * h);
}

void BM_420ToBgr_Tiko(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  const Bytes yuv = Converted(w, h, kFormatYuv420);
  Bytes out(size_t(w) * h * 3);
  const size_t cw = size_t(ChromaWidth(w)), chroma = cw * size_t(ChromaHeight(h));
  for (auto _ : state) {
    const uint8_t* u = yuv.data() + size_t(w) * h;
    const uint8_t* v = u + chroma;
    for (int y = 0; y < h; ++y) {
      Yuv420RowToBgr_Ref(&yuv[size_t(y) * w], u + size_t(y / 2) * cw, v + size_t(y / 2) * cw, w,
                         &out[size_t(y) * w * 3]);
    }
    benchmark::DoNotOptimize(out.data());
  }
  Report(state, int64_t{w} * h);
}

// ---- BGR24 <-> 4:2:2 -------------------------------------------------------

void BM_BgrTo422_Tiko(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  const Bytes bgr = Picture(w, h);
  const size_t row = size_t(RowSize(kFormatYuv422, w));
  Bytes out(row * h);
  for (auto _ : state) {
    for (int y = 0; y < h; ++y) BgrRowToYuv422_Ref(&bgr[size_t(y) * w * 3], w, &out[y * row]);
    benchmark::DoNotOptimize(out.data());
  }
  Report(state, int64_t{w} * h);
}

void BM_422ToBgr_Tiko(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  const size_t row = size_t(RowSize(kFormatYuv422, w));
  const Bytes yuv = Converted(w, h, kFormatYuv422);
  Bytes out(size_t(w) * h * 3);
  for (auto _ : state) {
    for (int y = 0; y < h; ++y) Yuv422RowToBgr_Ref(&yuv[y * row], w, &out[size_t(y) * w * 3]);
    benchmark::DoNotOptimize(out.data());
  }
  Report(state, int64_t{w} * h);
}

// ---- Round trips through the in-place conversions --------------------------

void RoundTrip(benchmark::State& state, uint8_t format) {
  const int w = int(state.range(0)), h = int(state.range(1));
  const Bytes bgr = Picture(w, h);
  Image image{};
  image.width = w;
  image.height = h;
  image.pixelFormat = kFormatBgr24;
  image.pixelDataSize = image.totalSize = w * h * 3;
  image.data = static_cast<uint8_t*>(MemAlloc(bgr.size(), 0));
  std::memcpy(image.data, bgr.data(), bgr.size());
  for (auto _ : state) {
    if (ConvertImage(&image, format) == 0 || ConvertImage(&image, kFormatBgr24) == 0) {
      state.SkipWithError("conversion failed");
      break;
    }
    benchmark::DoNotOptimize(image.data);
  }
  MemFree(image.data);
  Report(state, int64_t{w} * h);
}
void BM_RoundTrip420_Tiko(benchmark::State& state) { RoundTrip(state, kFormatYuv420); }
void BM_RoundTrip422_Tiko(benchmark::State& state) { RoundTrip(state, kFormatYuv422); }

// ---- Rescaling --------------------------------------------------------------

// Source and destination sizes: 200 x 150 -> 320 x 240, 640 x 480 -> 320 x 240.
void BM_ScaleBgr_Tiko(benchmark::State& state) {
  const int sw = int(state.range(0)), sh = int(state.range(1)), dw = int(state.range(2)), dh = int(state.range(3));
  Bytes source = Picture(sw, sh);
  Bytes target(size_t(dw) * dh * 3);
  Image from{};
  from.width = sw;
  from.height = sh;
  from.pixelFormat = kFormatBgr24;
  from.pixelDataSize = from.totalSize = sw * sh * 3;
  from.data = source.data();
  Image to{};
  to.width = dw;
  to.height = dh;
  to.pixelFormat = kFormatBgr24;
  to.pixelDataSize = to.totalSize = dw * dh * 3;
  to.data = target.data();
  for (auto _ : state) {
    ScaleBgr24(&from, &to);
    benchmark::DoNotOptimize(target.data());
  }
  Report(state, int64_t{dw} * dh);
}

// The whole in-place step the player runs: a new record and block per call.
void BM_ResizeImage_Tiko(benchmark::State& state) {
  const int sw = int(state.range(0)), sh = int(state.range(1)), dw = int(state.range(2)), dh = int(state.range(3));
  const Bytes source = Picture(sw, sh);
  Image from{};
  from.width = sw;
  from.height = sh;
  from.pixelFormat = kFormatBgr24;
  from.pixelDataSize = from.totalSize = sw * sh * 3;
  from.data = static_cast<uint8_t*>(MemAlloc(source.size(), 0));
  std::memcpy(from.data, source.data(), source.size());
  for (auto _ : state) {
    Image* copy = ResizeImage(nullptr, &from, dw, dh, 1);
    if (copy == nullptr) {
      state.SkipWithError("resize failed");
      break;
    }
    benchmark::DoNotOptimize(copy->data);
    MemFree(copy->data);
    MemFree(copy);
  }
  MemFree(from.data);
  Report(state, int64_t{dw} * dh);
}

#if TIKO_HAVE_LIBYUV

void BM_BgrTo420_Libyuv(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  const Bytes bgr = Picture(w, h);
  const int cw = ChromaWidth(w), ch = ChromaHeight(h);
  Bytes y(size_t(w) * h), u(size_t(cw) * ch), v(size_t(cw) * ch);
  for (auto _ : state) {
    libyuv::RGB24ToI420(bgr.data(), w * 3, y.data(), w, u.data(), cw, v.data(), cw, w, h);
    benchmark::DoNotOptimize(y.data());
  }
  Report(state, int64_t{w} * h);
}

void BM_420ToBgr_Libyuv(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  const int cw = ChromaWidth(w), ch = ChromaHeight(h);
  const Bytes yuv = Converted(w, h, kFormatYuv420);
  const uint8_t* y = yuv.data();
  const uint8_t* u = y + size_t(w) * h;
  const uint8_t* v = u + size_t(cw) * ch;
  Bytes out(size_t(w) * h * 3);
  for (auto _ : state) {
    libyuv::I420ToRGB24(y, w, u, cw, v, cw, out.data(), w * 3, w, h);
    benchmark::DoNotOptimize(out.data());
  }
  Report(state, int64_t{w} * h);
}

void BM_BgrTo422_Libyuv(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  const Bytes bgr = Picture(w, h);
  Bytes argb(size_t(w) * h * 4), out(size_t(RowSize(kFormatYuv422, w)) * h);
  for (auto _ : state) {
    libyuv::RGB24ToARGB(bgr.data(), w * 3, argb.data(), w * 4, w, h);
    libyuv::ARGBToYUY2(argb.data(), w * 4, out.data(), int(RowSize(kFormatYuv422, w)), w, h);
    benchmark::DoNotOptimize(out.data());
  }
  Report(state, int64_t{w} * h);
}

void BM_422ToBgr_Libyuv(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  const Bytes yuy2 = Converted(w, h, kFormatYuv422);
  Bytes argb(size_t(w) * h * 4), out(size_t(w) * h * 3);
  for (auto _ : state) {
    libyuv::YUY2ToARGB(yuy2.data(), int(RowSize(kFormatYuv422, w)), argb.data(), w * 4, w, h);
    libyuv::ARGBToRGB24(argb.data(), w * 4, out.data(), w * 3, w, h);
    benchmark::DoNotOptimize(out.data());
  }
  Report(state, int64_t{w} * h);
}

void BM_RoundTrip420_Libyuv(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  Bytes bgr = Picture(w, h);
  const int cw = ChromaWidth(w), ch = ChromaHeight(h);
  Bytes y(size_t(w) * h), u(size_t(cw) * ch), v(size_t(cw) * ch);
  for (auto _ : state) {
    libyuv::RGB24ToI420(bgr.data(), w * 3, y.data(), w, u.data(), cw, v.data(), cw, w, h);
    libyuv::I420ToRGB24(y.data(), w, u.data(), cw, v.data(), cw, bgr.data(), w * 3, w, h);
    benchmark::DoNotOptimize(bgr.data());
  }
  Report(state, int64_t{w} * h);
}

void BM_RoundTrip422_Libyuv(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  Bytes bgr = Picture(w, h);
  const int row = int(RowSize(kFormatYuv422, w));
  Bytes argb(size_t(w) * h * 4), yuy2(size_t(row) * h);
  for (auto _ : state) {
    libyuv::RGB24ToARGB(bgr.data(), w * 3, argb.data(), w * 4, w, h);
    libyuv::ARGBToYUY2(argb.data(), w * 4, yuy2.data(), row, w, h);
    libyuv::YUY2ToARGB(yuy2.data(), row, argb.data(), w * 4, w, h);
    libyuv::ARGBToRGB24(argb.data(), w * 4, bgr.data(), w * 3, w, h);
    benchmark::DoNotOptimize(bgr.data());
  }
  Report(state, int64_t{w} * h);
}

// RGBScale works on the 3-byte pixels directly (it widens to ARGB inside).
void BM_ScaleBgr_LibyuvRGBScale(benchmark::State& state) {
  const int sw = int(state.range(0)), sh = int(state.range(1)), dw = int(state.range(2)), dh = int(state.range(3));
  const Bytes source = Picture(sw, sh);
  Bytes target(size_t(dw) * dh * 3);
  for (auto _ : state) {
    libyuv::RGBScale(source.data(), sw * 3, sw, sh, target.data(), dw * 3, dw, dh, libyuv::kFilterBilinear);
    benchmark::DoNotOptimize(target.data());
  }
  Report(state, int64_t{dw} * dh);
}

// ARGBScale alone, on pictures already in 4 bytes per pixel.
void BM_ScaleBgr_LibyuvARGBScale(benchmark::State& state) {
  const int sw = int(state.range(0)), sh = int(state.range(1)), dw = int(state.range(2)), dh = int(state.range(3));
  const Bytes bgr = Picture(sw, sh);
  Bytes source(size_t(sw) * sh * 4);
  libyuv::RGB24ToARGB(bgr.data(), sw * 3, source.data(), sw * 4, sw, sh);
  Bytes target(size_t(dw) * dh * 4);
  for (auto _ : state) {
    libyuv::ARGBScale(source.data(), sw * 4, sw, sh, target.data(), dw * 4, dw, dh, libyuv::kFilterBilinear);
    benchmark::DoNotOptimize(target.data());
  }
  Report(state, int64_t{dw} * dh);
}

#endif  // TIKO_HAVE_LIBYUV

void FrameSizes(benchmark::internal::Benchmark* b) { b->Args({320, 240})->Args({640, 480}); }
void ScaleSizes(benchmark::internal::Benchmark* b) { b->Args({200, 150, 320, 240})->Args({640, 480, 320, 240}); }

BENCHMARK(BM_BgrTo420_Tiko)->Apply(FrameSizes);
BENCHMARK(BM_420ToBgr_Tiko)->Apply(FrameSizes);
BENCHMARK(BM_BgrTo422_Tiko)->Apply(FrameSizes);
BENCHMARK(BM_422ToBgr_Tiko)->Apply(FrameSizes);
BENCHMARK(BM_RoundTrip420_Tiko)->Apply(FrameSizes);
BENCHMARK(BM_RoundTrip422_Tiko)->Apply(FrameSizes);
BENCHMARK(BM_ScaleBgr_Tiko)->Apply(ScaleSizes);
BENCHMARK(BM_ResizeImage_Tiko)->Apply(ScaleSizes);
#if TIKO_HAVE_LIBYUV
BENCHMARK(BM_BgrTo420_Libyuv)->Apply(FrameSizes);
BENCHMARK(BM_420ToBgr_Libyuv)->Apply(FrameSizes);
BENCHMARK(BM_BgrTo422_Libyuv)->Apply(FrameSizes);
BENCHMARK(BM_422ToBgr_Libyuv)->Apply(FrameSizes);
BENCHMARK(BM_RoundTrip420_Libyuv)->Apply(FrameSizes);
BENCHMARK(BM_RoundTrip422_Libyuv)->Apply(FrameSizes);
BENCHMARK(BM_ScaleBgr_LibyuvRGBScale)->Apply(ScaleSizes);
BENCHMARK(BM_ScaleBgr_LibyuvARGBScale)->Apply(ScaleSizes);
#endif

}  // namespace
}  // namespace tiko

BENCHMARK_MAIN();
