// Block codec speed and compression against LZ4 and zlib, on the kind of data
// that packages hold: sprites (BGR24 pixels followed by an 8-bit alpha plane,
// shapes on a transparent background), a photo-like picture, and flat colour.
// Every codec runs on the same inputs in the same program; MB/s counts
// uncompressed bytes for both directions, and "ratio" is input size over
// compressed size.
#include <benchmark/benchmark.h>
#include <lz4.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "codec/decoder.h"
#include "codec/encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kBgrBytes = 3;

struct Input {
  const char* name;
  Bytes data;
};

// A 200 x 150 sprite: a shaded disc, a flat box with a border and a ring, with
// soft alpha edges, on transparent black; the pixel plane is followed by the
// alpha plane, as pictures with a weight mask are stored.
Bytes MakeSprite() {
  constexpr int kWidth = 200;
  constexpr int kHeight = 150;
  Bytes pixels(kWidth * kHeight * kBgrBytes, 0);
  Bytes alpha(kWidth * kHeight, 0);
  auto put = [&](int x, int y, uint8_t b, uint8_t g, uint8_t r, double coverage) {
    const int i = y * kWidth + x;
    pixels[i * kBgrBytes] = b;
    pixels[i * kBgrBytes + 1] = g;
    pixels[i * kBgrBytes + 2] = r;
    alpha[i] = static_cast<uint8_t>(std::max<int>(alpha[i], static_cast<int>(std::clamp(coverage, 0.0, 1.0) * 255)));
  };
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const double dDisc = std::hypot(x - 60.0, y - 75.0);
      if (dDisc < 45.5) {
        const double shade = 1.0 - dDisc / 60.0;
        put(x, y, static_cast<uint8_t>(40 * shade), static_cast<uint8_t>(160 * shade), static_cast<uint8_t>(250 * shade),
            45.5 - dDisc);
      }
      if (x >= 120 && x < 185 && y >= 20 && y < 70) {
        const bool border = x < 123 || x >= 182 || y < 23 || y >= 67;
        put(x, y, border ? 20 : 200, border ? 20 : 120, border ? 20 : 40, 1.0);
      }
      const double dRing = std::hypot(x - 150.0, y - 110.0);
      if (dRing > 22 && dRing < 32) put(x, y, 230, 230, 230, std::min(dRing - 22, 32 - dRing));
    }
  }
  pixels.insert(pixels.end(), alpha.begin(), alpha.end());
  return pixels;
}

// 640 x 480 smooth value noise in three octaves: the soft gradients of a
// photograph. With `grain` each byte also gets -1, 0 or +1 of sensor noise, as
// straight from a camera, which no byte-matching LZ codec can do much with.
Bytes MakePhoto(bool grain) {
  constexpr int kWidth = 640;
  constexpr int kHeight = 480;
  std::mt19937 rng(2024);
  struct Octave {
    int cell;
    double weight;
    std::vector<double> grid;
    int gridWidth;
  };
  std::vector<Octave> octaves;
  for (auto [cell, weight] : {std::pair{160, 0.6}, std::pair{40, 0.3}, std::pair{10, 0.1}}) {
    Octave o{cell, weight, {}, kWidth / cell + 2};
    o.grid.resize(static_cast<size_t>(o.gridWidth) * (kHeight / cell + 2) * kBgrBytes);
    for (double& v : o.grid) v = std::uniform_real_distribution<double>(0, 255)(rng);
    octaves.push_back(std::move(o));
  }
  std::uniform_int_distribution<int> noiseDistribution(-1, 1);
  Bytes out;
  out.reserve(kWidth * kHeight * kBgrBytes);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      for (int c = 0; c < kBgrBytes; ++c) {
        double value = 0;
        for (const Octave& o : octaves) {
          const int gx = x / o.cell, gy = y / o.cell;
          const double fx = static_cast<double>(x % o.cell) / o.cell, fy = static_cast<double>(y % o.cell) / o.cell;
          auto at = [&](int ix, int iy) { return o.grid[(static_cast<size_t>(iy) * o.gridWidth + ix) * kBgrBytes + c]; };
          const double top = at(gx, gy) * (1 - fx) + at(gx + 1, gy) * fx;
          const double bottom = at(gx, gy + 1) * (1 - fx) + at(gx + 1, gy + 1) * fx;
          value += o.weight * (top * (1 - fy) + bottom * fy);
        }
        const int noise = grain ? noiseDistribution(rng) : 0;
        out.push_back(static_cast<uint8_t>(std::clamp(static_cast<int>(value) + noise, 0, 255)));
      }
    }
  }
  return out;
}

Bytes MakeFlat() {
  Bytes out;
  for (int i = 0; i < 640 * 480; ++i) out.insert(out.end(), {0x30, 0x60, 0x90});
  return out;
}

const std::vector<Input>& Inputs() {
  static const std::vector<Input> inputs = {
      {"sprite_200x150_bgr_alpha", MakeSprite()},
      {"photo_640x480_bgr", MakePhoto(false)},
      {"photo_grain_640x480_bgr", MakePhoto(true)},
      {"flat_640x480_bgr", MakeFlat()},
  };
  return inputs;
}

// A codec as the benchmark sees it. compress returns an empty result when the
// codec cannot make the data smaller (the block encoder refuses then; a package
// stores such a picture raw).
struct Codec {
  const char* name;
  std::function<Bytes(const Bytes&)> compress;
  std::function<bool(const Bytes&, Bytes&)> decompress;  // into an area of the original size
};

Bytes TikoCompress(const Bytes& in) {
  Bytes out(tiko::EncodeBlockOutputCapacity(static_cast<uint32_t>(in.size())));
  out.resize(tiko::EncodeBlock(in.data(), static_cast<uint32_t>(in.size()), out.data()));
  return out;
}

Bytes Lz4Compress(const Bytes& in) {
  Bytes out(LZ4_compressBound(static_cast<int>(in.size())));
  const int n = LZ4_compress_default(reinterpret_cast<const char*>(in.data()), reinterpret_cast<char*>(out.data()),
                                     static_cast<int>(in.size()), static_cast<int>(out.size()));
  out.resize(n > 0 ? n : 0);
  return out;
}

Bytes ZlibCompress(const Bytes& in, int level) {
  uLongf n = compressBound(in.size());
  Bytes out(n);
  if (compress2(out.data(), &n, in.data(), in.size(), level) != Z_OK) return {};
  out.resize(n);
  return out;
}

const std::vector<Codec>& Codecs() {
  static const std::vector<Codec> codecs = {
      {"tiko", TikoCompress,
       [](const Bytes& c, Bytes& out) {
         return tiko::DecodeBlock(c.data(), static_cast<uint32_t>(c.size()), out.data(),
                                  static_cast<uint32_t>(out.size())) == out.size();
       }},
      {"tiko_ref", TikoCompress,
       [](const Bytes& c, Bytes& out) {
         return tiko::DecodeBlockRef(c.data(), static_cast<uint32_t>(c.size()), out.data(),
                                     static_cast<uint32_t>(out.size())) == out.size();
       }},
      {"lz4", Lz4Compress,
       [](const Bytes& c, Bytes& out) {
         return LZ4_decompress_safe(reinterpret_cast<const char*>(c.data()), reinterpret_cast<char*>(out.data()),
                                    static_cast<int>(c.size()), static_cast<int>(out.size())) ==
                static_cast<int>(out.size());
       }},
      {"zlib1", [](const Bytes& in) { return ZlibCompress(in, 1); },
       [](const Bytes& c, Bytes& out) {
         uLongf n = out.size();
         return uncompress(out.data(), &n, c.data(), c.size()) == Z_OK && n == out.size();
       }},
      {"zlib6", [](const Bytes& in) { return ZlibCompress(in, Z_DEFAULT_COMPRESSION); },
       [](const Bytes& c, Bytes& out) {
         uLongf n = out.size();
         return uncompress(out.data(), &n, c.data(), c.size()) == Z_OK && n == out.size();
       }},
  };
  return codecs;
}

double Ratio(const Bytes& input, const Bytes& compressed) {
  return compressed.empty() ? 1.0 : static_cast<double>(input.size()) / compressed.size();
}

void BM_Encode(benchmark::State& state, const Codec& codec, const Input& input) {
  Bytes compressed;
  for (auto _ : state) {
    compressed = codec.compress(input.data);
    benchmark::DoNotOptimize(compressed.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * input.data.size());
  state.counters["ratio"] = Ratio(input.data, compressed);
}

void BM_Decode(benchmark::State& state, const Codec& codec, const Input& input) {
  const Bytes compressed = codec.compress(input.data);
  if (compressed.empty()) {
    state.SkipWithError("not compressible: stored raw");
    return;
  }
  Bytes out(input.data.size());
  if (!codec.decompress(compressed, out) || out != input.data) {
    state.SkipWithError("round trip failed");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(codec.decompress(compressed, out));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * input.data.size());
  state.counters["ratio"] = Ratio(input.data, compressed);
}

}  // namespace

int main(int argc, char** argv) {
  for (const Input& input : Inputs()) {
    for (const Codec& codec : Codecs()) {
      // The reference decoder shares the encoder; only its decoding is of interest.
      if (std::string(codec.name) != "tiko_ref") {
        benchmark::RegisterBenchmark((std::string("encode/") + input.name + "/" + codec.name).c_str(), BM_Encode,
                                     std::cref(codec), std::cref(input));
      }
      benchmark::RegisterBenchmark((std::string("decode/") + input.name + "/" + codec.name).c_str(), BM_Decode,
                                   std::cref(codec), std::cref(input));
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
