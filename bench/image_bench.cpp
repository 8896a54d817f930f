// Colour conversion and rescaling, tiko's kernels beside libyuv. Throughput is
// in pixels (items) per second: source pixels for the conversions, destination
// pixels for the rescales.
//
// tiko's benchmarks take the kernel set as their last argument (0 the scalar
// references, 1 SSE4.1, 2 AVX2; a set the processor lacks is skipped). libyuv's
// take 1 for its SIMD paths and 0 for its C path (MaskCpuFlags(1)).
//
// Conversions run one direction at a time over whole frames with the row
// kernels into ready buffers (as libyuv writes into the caller's buffers), and
// as a round trip through the in-place conversions the player uses (a new
// block per step). libyuv has no direct RGB24 <-> YUY2 conversion, so its 4:2:2
// pair goes through ARGB (RGB24ToARGB + ARGBToYUY2, YUY2ToARGB + ARGBToRGB24).
// libyuv's RGB24 is blue, green, red in memory: the same bytes as BGR24.
//
// Rescales: ScaleBgr24 beside RGBScale (the same 3-byte layout; it widens to
// ARGB inside) and ARGBScale; ScaleYuv420 beside I420Scale; ScaleYuv422
// (packed) beside I422Scale, libyuv having no packed 4:2:2 scaler. All
// bilinear. tiko interpolates Y and takes chroma from the nearest sample;
// libyuv filters every plane.
//
// Frame intake (the host frame taken into the player's frame: a copy, the
// halving of 640 x 480 into 320 x 240, a black fill) beside memcpy of the same
// number of bytes; throughput in bytes written per second.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "image/convert.h"
#include "image/intake.h"
#include "image/kernel_set.h"
#include "kernel_set_run.h"
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
  KernelSetRun run(state, state.range(2));
  if (!run.ok()) return;
  const ConvertKernels& kernels = ConvertKernelsOf(ActiveKernelSet());
  const Bytes bgr = Picture(w, h);
  Bytes out(size_t(PixelDataSize(kFormatYuv420, w, h)));
  std::vector<double> means(size_t(ChromaWidth(w)) * 2);
  const size_t cw = size_t(ChromaWidth(w)), chroma = cw * size_t(ChromaHeight(h));
  for (auto _ : state) {
    uint8_t* u = out.data() + size_t(w) * h;
    uint8_t* v = u + chroma;
    for (int y = 0; y < h; y += 2) {
      kernels.bgrRowPairToYuv420(&bgr[size_t(y) * w * 3], &bgr[size_t(y + 1) * w * 3], w, means.data(),
                                 &out[size_t(y) * w], &out[size_t(y + 1) * w], u + size_t(y / 2) * cw,
                                 v + size_t(y / 2) * cw);
    }
    benchmark::DoNotOptimize(out.data());
  }
  Report(state, int64_t{w} * h);
}

void BM_420ToBgr_Tiko(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  KernelSetRun run(state, state.range(2));
  if (!run.ok()) return;
  const ConvertKernels& kernels = ConvertKernelsOf(ActiveKernelSet());
  const Bytes yuv = Converted(w, h, kFormatYuv420);
  Bytes out(size_t(w) * h * 3);
  const size_t cw = size_t(ChromaWidth(w)), chroma = cw * size_t(ChromaHeight(h));
  for (auto _ : state) {
    const uint8_t* u = yuv.data() + size_t(w) * h;
    const uint8_t* v = u + chroma;
    for (int y = 0; y < h; ++y) {
      kernels.yuv420RowToBgr(&yuv[size_t(y) * w], u + size_t(y / 2) * cw, v + size_t(y / 2) * cw, w,
                             &out[size_t(y) * w * 3]);
    }
    benchmark::DoNotOptimize(out.data());
  }
  Report(state, int64_t{w} * h);
}

// ---- BGR24 <-> 4:2:2 -------------------------------------------------------

void BM_BgrTo422_Tiko(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  KernelSetRun run(state, state.range(2));
  if (!run.ok()) return;
  const ConvertKernels& kernels = ConvertKernelsOf(ActiveKernelSet());
  const Bytes bgr = Picture(w, h);
  const size_t row = size_t(RowSize(kFormatYuv422, w));
  Bytes out(row * h);
  for (auto _ : state) {
    for (int y = 0; y < h; ++y) kernels.bgrRowToYuv422(&bgr[size_t(y) * w * 3], w, &out[y * row]);
    benchmark::DoNotOptimize(out.data());
  }
  Report(state, int64_t{w} * h);
}

void BM_422ToBgr_Tiko(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  KernelSetRun run(state, state.range(2));
  if (!run.ok()) return;
  const ConvertKernels& kernels = ConvertKernelsOf(ActiveKernelSet());
  const size_t row = size_t(RowSize(kFormatYuv422, w));
  const Bytes yuv = Converted(w, h, kFormatYuv422);
  Bytes out(size_t(w) * h * 3);
  for (auto _ : state) {
    for (int y = 0; y < h; ++y) kernels.yuv422RowToBgr(&yuv[y * row], w, &out[size_t(y) * w * 3]);
    benchmark::DoNotOptimize(out.data());
  }
  Report(state, int64_t{w} * h);
}

// ---- Round trips through the in-place conversions --------------------------

void RoundTrip(benchmark::State& state, uint8_t format) {
  const int w = int(state.range(0)), h = int(state.range(1));
  KernelSetRun run(state, state.range(2));
  if (!run.ok()) return;
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

// A loaded picture in a plain buffer.
struct Plain {
  Plain(uint8_t format, int w, int h, Bytes pixels) : bytes(std::move(pixels)) {
    image.width = w;
    image.height = h;
    image.pixelFormat = format;
    image.pixelDataSize = image.totalSize = static_cast<int32_t>(PixelDataSize(format, w, h));
    bytes.resize(size_t(image.pixelDataSize));
    image.data = bytes.data();
  }
  Bytes bytes;
  Image image{};
};

// Source and destination sizes: 200 x 150 -> 320 x 240, 640 x 480 -> 320 x 240.
void ScaleWith(benchmark::State& state, uint8_t format, int32_t (*scale)(const Image*, Image*)) {
  const int sw = int(state.range(0)), sh = int(state.range(1)), dw = int(state.range(2)), dh = int(state.range(3));
  KernelSetRun run(state, state.range(4));
  if (!run.ok()) return;
  Plain from(format, sw, sh, format == kFormatBgr24 ? Picture(sw, sh) : Converted(sw, sh, format));
  Plain to(format, dw, dh, Bytes());
  for (auto _ : state) {
    scale(&from.image, &to.image);
    benchmark::DoNotOptimize(to.bytes.data());
  }
  Report(state, int64_t{dw} * dh);
}
void BM_ScaleBgr_Tiko(benchmark::State& state) { ScaleWith(state, kFormatBgr24, ScaleBgr24); }
void BM_Scale420_Tiko(benchmark::State& state) { ScaleWith(state, kFormatYuv420, ScaleYuv420); }
void BM_Scale422_Tiko(benchmark::State& state) { ScaleWith(state, kFormatYuv422, ScaleYuv422); }

// The whole in-place step the player runs: a new record and block per call.
void BM_ResizeImage_Tiko(benchmark::State& state) {
  const int sw = int(state.range(0)), sh = int(state.range(1)), dw = int(state.range(2)), dh = int(state.range(3));
  KernelSetRun run(state, state.range(4));
  if (!run.ok()) return;
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

// Runs a benchmark on libyuv's SIMD paths (1) or its C path (0), then gives
// it back every path.
class LibyuvPath {
 public:
  LibyuvPath(benchmark::State& state, int64_t simd) {
    libyuv::MaskCpuFlags(simd != 0 ? -1 : 1);
    state.SetLabel(simd != 0 ? "libyuv SIMD" : "libyuv C");
  }
  ~LibyuvPath() { libyuv::MaskCpuFlags(-1); }
  LibyuvPath(const LibyuvPath&) = delete;
  LibyuvPath& operator=(const LibyuvPath&) = delete;
};

void BM_BgrTo420_Libyuv(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  LibyuvPath path(state, state.range(2));
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
  LibyuvPath path(state, state.range(2));
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
  LibyuvPath path(state, state.range(2));
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
  LibyuvPath path(state, state.range(2));
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
  LibyuvPath path(state, state.range(2));
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
  LibyuvPath path(state, state.range(2));
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

void BM_ScaleBgr_LibyuvRGBScale(benchmark::State& state) {
  const int sw = int(state.range(0)), sh = int(state.range(1)), dw = int(state.range(2)), dh = int(state.range(3));
  LibyuvPath path(state, state.range(4));
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
  LibyuvPath path(state, state.range(4));
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

// Planar 4:2:0 or 4:2:2 (chroma rows every second row or every row).
void PlanarScale(benchmark::State& state, bool halfHeightChroma) {
  const int sw = int(state.range(0)), sh = int(state.range(1)), dw = int(state.range(2)), dh = int(state.range(3));
  LibyuvPath path(state, state.range(4));
  const int scw = ChromaWidth(sw), sch = halfHeightChroma ? ChromaHeight(sh) : sh;
  const int dcw = ChromaWidth(dw), dch = halfHeightChroma ? ChromaHeight(dh) : dh;
  const Bytes source = RandomBytes(size_t(sw) * sh + 2 * size_t(scw) * sch);
  Bytes target(size_t(dw) * dh + 2 * size_t(dcw) * dch);
  const uint8_t* su = source.data() + size_t(sw) * sh;
  const uint8_t* sv = su + size_t(scw) * sch;
  uint8_t* u = target.data() + size_t(dw) * dh;
  uint8_t* v = u + size_t(dcw) * dch;
  for (auto _ : state) {
    if (halfHeightChroma) {
      libyuv::I420Scale(source.data(), sw, su, scw, sv, scw, sw, sh, target.data(), dw, u, dcw, v, dcw, dw, dh,
                        libyuv::kFilterBilinear);
    } else {
      libyuv::I422Scale(source.data(), sw, su, scw, sv, scw, sw, sh, target.data(), dw, u, dcw, v, dcw, dw, dh,
                        libyuv::kFilterBilinear);
    }
    benchmark::DoNotOptimize(target.data());
  }
  Report(state, int64_t{dw} * dh);
}
void BM_Scale420_LibyuvI420Scale(benchmark::State& state) { PlanarScale(state, true); }
void BM_Scale422_LibyuvI422Scale(benchmark::State& state) { PlanarScale(state, false); }

#endif  // TIKO_HAVE_LIBYUV

constexpr int64_t kScalarSet = kKernelsScalar;
constexpr int64_t kBestSet = kKernelsAvx2;

// ---- Frame intake -----------------------------------------------------------

constexpr int kHostWidth = 640;
constexpr int kHostHeight = 480;

void BM_IntakeHalve_Tiko(benchmark::State& state) {
  KernelSetRun run(state, state.range(0));
  if (!run.ok()) return;
  const Bytes host = Picture(kHostWidth, kHostHeight);
  Bytes frame(size_t(kHostWidth / 2) * (kHostHeight / 2) * 3);
  for (auto _ : state) {
    HalveBgrFrame(host.data(), size_t(kHostWidth) * 3, kHostWidth / 2, kHostHeight / 2, frame.data());
    benchmark::DoNotOptimize(frame.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * int64_t(frame.size()));
}

// The player's copy of a host frame at its own size, and its black fill.
void BM_IntakeCopy_Tiko(benchmark::State& state) {
  const Bytes host = Picture(int(state.range(0)), int(state.range(1)));
  Bytes frame(host.size());
  for (auto _ : state) {
    std::memcpy(frame.data(), host.data(), frame.size());
    benchmark::DoNotOptimize(frame.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * int64_t(frame.size()));
}
void BM_IntakeBlack_Tiko(benchmark::State& state) {
  Bytes frame(size_t(state.range(0)) * size_t(state.range(1)) * 3, 1);
  for (auto _ : state) {
    std::memset(frame.data(), 0, frame.size());
    benchmark::DoNotOptimize(frame.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * int64_t(frame.size()));
}

// The yardstick: memcpy of as many bytes as the intake writes, from a buffer
// of the same size.
void BM_Memcpy(benchmark::State& state) {
  const Bytes from = RandomBytes(size_t(state.range(0)));
  Bytes to(from.size());
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), to.size());
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * int64_t(to.size()));
}


void FrameSizes(benchmark::internal::Benchmark* b) {
  b->ArgNames({"w", "h", "set"});
  for (int64_t set : {kScalarSet, kBestSet}) b->Args({320, 240, set})->Args({640, 480, set});
}
void ScaleSizes(benchmark::internal::Benchmark* b) {
  b->ArgNames({"sw", "sh", "dw", "dh", "set"});
  for (int64_t set : {kScalarSet, kBestSet}) b->Args({200, 150, 320, 240, set})->Args({640, 480, 320, 240, set});
}
void LibyuvFrameSizes(benchmark::internal::Benchmark* b) {
  b->ArgNames({"w", "h", "simd"})->Args({320, 240, 1})->Args({640, 480, 1})->Args({640, 480, 0});
}
void LibyuvScaleSizes(benchmark::internal::Benchmark* b) {
  b->ArgNames({"sw", "sh", "dw", "dh", "simd"});
  for (int64_t simd : {1, 0}) b->Args({200, 150, 320, 240, simd})->Args({640, 480, 320, 240, simd});
}

BENCHMARK(BM_BgrTo420_Tiko)->Apply(FrameSizes);
BENCHMARK(BM_420ToBgr_Tiko)->Apply(FrameSizes);
BENCHMARK(BM_BgrTo422_Tiko)->Apply(FrameSizes);
BENCHMARK(BM_422ToBgr_Tiko)->Apply(FrameSizes);
BENCHMARK(BM_RoundTrip420_Tiko)->Apply(FrameSizes);
BENCHMARK(BM_RoundTrip422_Tiko)->Apply(FrameSizes);
BENCHMARK(BM_ScaleBgr_Tiko)->Apply(ScaleSizes);
BENCHMARK(BM_Scale420_Tiko)->Apply(ScaleSizes);
BENCHMARK(BM_Scale422_Tiko)->Apply(ScaleSizes);
BENCHMARK(BM_ResizeImage_Tiko)->Apply(ScaleSizes);
BENCHMARK(BM_IntakeHalve_Tiko)->ArgName("set")->Arg(kScalarSet)->Arg(kKernelsSse41)->Arg(kBestSet);
BENCHMARK(BM_IntakeCopy_Tiko)->ArgNames({"w", "h"})->Args({320, 240})->Args({640, 480});
BENCHMARK(BM_IntakeBlack_Tiko)->ArgNames({"w", "h"})->Args({320, 240})->Args({640, 480});
BENCHMARK(BM_Memcpy)->ArgName("bytes")->Arg(320 * 240 * 3)->Arg(640 * 240 * 3)->Arg(640 * 480 * 3);
#if TIKO_HAVE_LIBYUV
BENCHMARK(BM_BgrTo420_Libyuv)->Apply(LibyuvFrameSizes);
BENCHMARK(BM_420ToBgr_Libyuv)->Apply(LibyuvFrameSizes);
BENCHMARK(BM_BgrTo422_Libyuv)->Apply(LibyuvFrameSizes);
BENCHMARK(BM_422ToBgr_Libyuv)->Apply(LibyuvFrameSizes);
BENCHMARK(BM_RoundTrip420_Libyuv)->Apply(LibyuvFrameSizes);
BENCHMARK(BM_RoundTrip422_Libyuv)->Apply(LibyuvFrameSizes);
BENCHMARK(BM_ScaleBgr_LibyuvRGBScale)->Apply(LibyuvScaleSizes);
BENCHMARK(BM_ScaleBgr_LibyuvARGBScale)->Apply(LibyuvScaleSizes);
BENCHMARK(BM_Scale420_LibyuvI420Scale)->Apply(LibyuvScaleSizes);
BENCHMARK(BM_Scale422_LibyuvI422Scale)->Apply(LibyuvScaleSizes);
#endif

}  // namespace
}  // namespace tiko

BENCHMARK_MAIN();
