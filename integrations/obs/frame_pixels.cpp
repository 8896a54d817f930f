#include "frame_pixels.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace tiko::obs {
namespace {

constexpr int kBytesPerPixel = 3;

// Where one component of a pixel lies: in plane `plane`, at byte `offset`
// of the unit that holds it, units `step` bytes apart. A unit covers one
// pixel for luma and RGB, and the chroma block's width for chroma.
struct Component {
  int8_t plane;
  int8_t offset;
  int8_t step;
};

enum class Kind : uint8_t { kYuv, kGrey, kRgb };

struct Layout {
  Kind kind;
  int8_t sampleBytes;  // 1, or 2 for 16-bit little-endian samples
  int8_t bits;         // significant bits of a sample
  int8_t shift;        // how far they are shifted up in it
  int8_t blockWidth;   // the pixels that share a chroma sample
  int8_t blockHeight;
  // Y, U, V for YUV (Y alone for grey); B, G, R for RGB.
  std::array<Component, 3> parts;
};

constexpr Layout kI420{Kind::kYuv, 1, 8, 0, 2, 2, {{{0, 0, 1}, {1, 0, 1}, {2, 0, 1}}}};
constexpr Layout kI422{Kind::kYuv, 1, 8, 0, 2, 1, {{{0, 0, 1}, {1, 0, 1}, {2, 0, 1}}}};
constexpr Layout kI444{Kind::kYuv, 1, 8, 0, 1, 1, {{{0, 0, 1}, {1, 0, 1}, {2, 0, 1}}}};
constexpr Layout kNv12{Kind::kYuv, 1, 8, 0, 2, 2, {{{0, 0, 1}, {1, 0, 2}, {1, 1, 2}}}};
constexpr Layout kYuy2{Kind::kYuv, 1, 8, 0, 2, 1, {{{0, 0, 2}, {0, 1, 4}, {0, 3, 4}}}};
constexpr Layout kYvyu{Kind::kYuv, 1, 8, 0, 2, 1, {{{0, 0, 2}, {0, 3, 4}, {0, 1, 4}}}};
constexpr Layout kUyvy{Kind::kYuv, 1, 8, 0, 2, 1, {{{0, 1, 2}, {0, 0, 4}, {0, 2, 4}}}};
constexpr Layout kY800{Kind::kGrey, 1, 8, 0, 1, 1, {{{0, 0, 1}, {0, 0, 0}, {0, 0, 0}}}};
constexpr Layout kBgra{Kind::kRgb, 1, 8, 0, 1, 1, {{{0, 0, 4}, {0, 1, 4}, {0, 2, 4}}}};
constexpr Layout kRgba{Kind::kRgb, 1, 8, 0, 1, 1, {{{0, 2, 4}, {0, 1, 4}, {0, 0, 4}}}};
constexpr Layout kBgr3{Kind::kRgb, 1, 8, 0, 1, 1, {{{0, 0, 3}, {0, 1, 3}, {0, 2, 3}}}};
constexpr Layout kI010{Kind::kYuv, 2, 10, 0, 2, 2, {{{0, 0, 2}, {1, 0, 2}, {2, 0, 2}}}};
constexpr Layout kP010{Kind::kYuv, 2, 10, 6, 2, 2, {{{0, 0, 2}, {1, 0, 4}, {1, 2, 4}}}};
constexpr Layout kI210{Kind::kYuv, 2, 10, 0, 2, 1, {{{0, 0, 2}, {1, 0, 2}, {2, 0, 2}}}};
constexpr Layout kI412{Kind::kYuv, 2, 12, 0, 1, 1, {{{0, 0, 2}, {1, 0, 2}, {2, 0, 2}}}};

// The layout of a format, or null. The planes of alpha (I40A, I42A, YUVA,
// YA2L) come after the colour planes and are left alone.
const Layout* LayoutOf(video_format format) {
  switch (format) {
    case VIDEO_FORMAT_I420:
    case VIDEO_FORMAT_I40A:
      return &kI420;
    case VIDEO_FORMAT_I422:
    case VIDEO_FORMAT_I42A:
      return &kI422;
    case VIDEO_FORMAT_I444:
    case VIDEO_FORMAT_YUVA:
      return &kI444;
    case VIDEO_FORMAT_NV12:
      return &kNv12;
    case VIDEO_FORMAT_YUY2:
      return &kYuy2;
    case VIDEO_FORMAT_YVYU:
      return &kYvyu;
    case VIDEO_FORMAT_UYVY:
      return &kUyvy;
    case VIDEO_FORMAT_Y800:
      return &kY800;
    case VIDEO_FORMAT_BGRA:
    case VIDEO_FORMAT_BGRX:
      return &kBgra;
    case VIDEO_FORMAT_RGBA:
      return &kRgba;
    case VIDEO_FORMAT_BGR3:
      return &kBgr3;
    case VIDEO_FORMAT_I010:
      return &kI010;
    case VIDEO_FORMAT_P010:
      return &kP010;
    case VIDEO_FORMAT_I210:
      return &kI210;
    case VIDEO_FORMAT_I412:
    case VIDEO_FORMAT_YA2L:
      return &kI412;
    default:
      return nullptr;
  }
}

// Where the sample of component `part` for stored row `row` and column `x`
// lies; chroma components take the block's row and column.
uint8_t* SampleAt(const obs_source_frame& f, const Layout& l, int part, int32_t x, int32_t row) {
  const Component& c = l.parts[static_cast<size_t>(part)];
  const bool chroma = l.kind == Kind::kYuv && part > 0;
  const int32_t unitX = chroma ? x / l.blockWidth : x;
  const int32_t unitRow = chroma ? row / l.blockHeight : row;
  return f.data[c.plane] + static_cast<size_t>(unitRow) * f.linesize[c.plane] + static_cast<size_t>(unitX) * c.step +
         c.offset;
}

uint32_t Load(const Layout& l, const uint8_t* at) {
  const uint32_t raw = l.sampleBytes == 1 ? at[0] : uint32_t{at[0]} | uint32_t{at[1]} << 8;
  return (raw >> l.shift) & ((1u << l.bits) - 1);
}

void Store(const Layout& l, uint8_t* at, uint32_t value) {
  const uint32_t raw = value << l.shift;
  at[0] = static_cast<uint8_t>(raw);
  if (l.sampleBytes == 2) at[1] = static_cast<uint8_t>(raw >> 8);
}

// The frame's YUV-to-RGB matrix, rows for R, G and B applied to normalised
// (Y, U, V, 1), and the range its samples are held in. A frame that carries
// no matrix (all zeros: some sources leave it) takes BT.709's.
struct Colour {
  double m[3][4];
  double low[3];
  double high[3];
};

Colour ColourOf(const obs_source_frame& f, video_format format) {
  float matrix[16];
  float low[3];
  float high[3];
  std::memcpy(matrix, f.color_matrix, sizeof matrix);
  std::memcpy(low, f.color_range_min, sizeof low);
  std::memcpy(high, f.color_range_max, sizeof high);
  if (std::all_of(matrix, matrix + 16, [](float v) { return v == 0.0f; })) {
    video_format_get_parameters_for_format(VIDEO_CS_709, f.full_range ? VIDEO_RANGE_FULL : VIDEO_RANGE_PARTIAL,
                                           format, matrix, low, high);
  }
  Colour c{};
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 4; ++col) c.m[row][col] = matrix[row * 4 + col];
    const bool ranged = high[row] > low[row];
    c.low[row] = ranged ? low[row] : 0.0;
    c.high[row] = ranged ? high[row] : 1.0;
  }
  return c;
}

// Per-sample tables for the frame's matrix, in fixed point: a pixel's colour
// is the sum of one entry per component, so a frame costs three lookups and
// an add a channel. kFraction bits below the 8-bit level keep the sums
// within rounding of the exact products.
constexpr int kFraction = 14;
constexpr int32_t kHalf = 1 << (kFraction - 1);

struct ReadTables {
  std::vector<int32_t> part[3][3];  // [channel R, G, B][component Y, U, V]
};

ReadTables MakeReadTables(const Colour& c, const Layout& l) {
  const uint32_t levels = 1u << l.bits;
  const double top = static_cast<double>(levels - 1);
  const double scale = 255.0 * (1 << kFraction);
  ReadTables t;
  for (int ch = 0; ch < 3; ++ch) {
    for (int k = 0; k < 3; ++k) {
      std::vector<int32_t>& table = t.part[ch][k];
      table.resize(levels);
      for (uint32_t v = 0; v < levels; ++v) {
        const double n = std::clamp(v / top, c.low[k], c.high[k]);
        table[v] = static_cast<int32_t>(std::lround((c.m[ch][k] * n + (k == 0 ? c.m[ch][3] : 0.0)) * scale));
      }
    }
  }
  return t;
}

uint8_t LevelOf(int32_t sum) { return static_cast<uint8_t>(std::clamp((sum + kHalf) >> kFraction, 0, 255)); }

// RGB to YUV: the inverse of the matrix's 3 x 3 part, after its offsets.
struct Inverse {
  double m[3][3];  // [component Y, U, V][channel R, G, B]
  double offset[3];
  bool ok = false;
};

Inverse InverseOf(const Colour& c) {
  const auto& a = c.m;
  const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                     a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                     a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
  Inverse inv{};
  if (std::fabs(det) < 1e-9) return inv;
  inv.m[0][0] = (a[1][1] * a[2][2] - a[1][2] * a[2][1]) / det;
  inv.m[0][1] = (a[0][2] * a[2][1] - a[0][1] * a[2][2]) / det;
  inv.m[0][2] = (a[0][1] * a[1][2] - a[0][2] * a[1][1]) / det;
  inv.m[1][0] = (a[1][2] * a[2][0] - a[1][0] * a[2][2]) / det;
  inv.m[1][1] = (a[0][0] * a[2][2] - a[0][2] * a[2][0]) / det;
  inv.m[1][2] = (a[0][2] * a[1][0] - a[0][0] * a[1][2]) / det;
  inv.m[2][0] = (a[1][0] * a[2][1] - a[1][1] * a[2][0]) / det;
  inv.m[2][1] = (a[0][1] * a[2][0] - a[0][0] * a[2][1]) / det;
  inv.m[2][2] = (a[0][0] * a[1][1] - a[0][1] * a[1][0]) / det;
  for (int k = 0; k < 3; ++k) {
    inv.offset[k] = -(inv.m[k][0] * a[0][3] + inv.m[k][1] * a[1][3] + inv.m[k][2] * a[2][3]);
  }
  inv.ok = true;
  return inv;
}

// Normalised Y, U or V of a BGR pixel.
double ComponentOf(const Inverse& inv, int k, const uint8_t* bgr) {
  return inv.offset[k] + (inv.m[k][0] * bgr[2] + inv.m[k][1] * bgr[1] + inv.m[k][2] * bgr[0]) / 255.0;
}

uint32_t Quantise(const Layout& l, const Colour& c, int k, double n) {
  const double top = static_cast<double>((1u << l.bits) - 1);
  return static_cast<uint32_t>(std::lround(std::clamp(n, c.low[k], c.high[k]) * top));
}

// The top-down row a stored row shows.
int32_t ShownRow(const obs_source_frame& f, int32_t row) {
  return f.flip ? static_cast<int32_t>(f.height) - 1 - row : row;
}

const uint8_t* PixelOf(const std::vector<uint8_t>& bgr, const obs_source_frame& f, int32_t x, int32_t row) {
  return bgr.data() + (static_cast<size_t>(ShownRow(f, row)) * f.width + static_cast<size_t>(x)) * kBytesPerPixel;
}

bool Changed(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after, const obs_source_frame& f,
             int32_t x, int32_t row) {
  return std::memcmp(PixelOf(before, f, x, row), PixelOf(after, f, x, row), kBytesPerPixel) != 0;
}

void WriteRgb(obs_source_frame& f, const Layout& l, const std::vector<uint8_t>& before,
              const std::vector<uint8_t>& after) {
  const size_t rowBytes = static_cast<size_t>(f.width) * kBytesPerPixel;
  for (int32_t row = 0; row < static_cast<int32_t>(f.height); ++row) {
    if (std::memcmp(PixelOf(before, f, 0, row), PixelOf(after, f, 0, row), rowBytes) == 0) continue;
    for (int32_t x = 0; x < static_cast<int32_t>(f.width); ++x) {
      if (!Changed(before, after, f, x, row)) continue;
      const uint8_t* p = PixelOf(after, f, x, row);
      for (int ch = 0; ch < 3; ++ch) *SampleAt(f, l, ch, x, row) = p[ch];
    }
  }
}

void WriteYuv(obs_source_frame& f, const Layout& l, const Colour& c, const Inverse& inv,
              const std::vector<uint8_t>& before, const std::vector<uint8_t>& after) {
  const int32_t width = static_cast<int32_t>(f.width);
  const int32_t height = static_cast<int32_t>(f.height);
  const size_t rowBytes = static_cast<size_t>(width) * kBytesPerPixel;
  for (int32_t top = 0; top < height; top += l.blockHeight) {
    const int32_t bottom = std::min(height, top + l.blockHeight);
    // Most rows have no effects on them: one comparison each.
    bool rowsChanged = false;
    for (int32_t row = top; row < bottom && !rowsChanged; ++row) {
      rowsChanged = std::memcmp(PixelOf(before, f, 0, row), PixelOf(after, f, 0, row), rowBytes) != 0;
    }
    if (!rowsChanged) continue;
    for (int32_t left = 0; left < width; left += l.blockWidth) {
      const int32_t right = std::min(width, left + l.blockWidth);
      bool any = false;
      for (int32_t row = top; row < bottom; ++row) {
        for (int32_t x = left; x < right; ++x) {
          if (!Changed(before, after, f, x, row)) continue;
          any = true;
          Store(l, SampleAt(f, l, 0, x, row), Quantise(l, c, 0, ComponentOf(inv, 0, PixelOf(after, f, x, row))));
        }
      }
      if (!any || l.kind == Kind::kGrey) continue;
      double u = 0, v = 0;
      for (int32_t row = top; row < bottom; ++row) {
        for (int32_t x = left; x < right; ++x) {
          const uint8_t* p = PixelOf(after, f, x, row);
          u += ComponentOf(inv, 1, p);
          v += ComponentOf(inv, 2, p);
        }
      }
      const double count = double(bottom - top) * double(right - left);
      Store(l, SampleAt(f, l, 1, left, top), Quantise(l, c, 1, u / count));
      Store(l, SampleAt(f, l, 2, left, top), Quantise(l, c, 2, v / count));
    }
  }
}

}  // namespace

bool CanConvert(video_format format) { return LayoutOf(format) != nullptr; }

bool ReadFrame(const obs_source_frame& f, std::vector<uint8_t>& bgr) {
  const Layout* layout = LayoutOf(f.format);
  if (layout == nullptr || f.width == 0 || f.height == 0) return false;
  const Layout& l = *layout;
  const int32_t width = static_cast<int32_t>(f.width);
  const int32_t height = static_cast<int32_t>(f.height);
  bgr.resize(static_cast<size_t>(width) * height * kBytesPerPixel);
  if (l.kind == Kind::kRgb) {
    for (int32_t row = 0; row < height; ++row) {
      uint8_t* out = bgr.data() + static_cast<size_t>(ShownRow(f, row)) * width * kBytesPerPixel;
      for (int32_t x = 0; x < width; ++x, out += kBytesPerPixel) {
        for (int ch = 0; ch < 3; ++ch) out[ch] = *SampleAt(f, l, ch, x, row);
      }
    }
    return true;
  }
  const Colour colour = ColourOf(f, f.format);
  const ReadTables t = MakeReadTables(colour, l);
  const int32_t* ry = t.part[0][0].data();
  const int32_t* ru = t.part[0][1].data();
  const int32_t* rv = t.part[0][2].data();
  const int32_t* gy = t.part[1][0].data();
  const int32_t* gu = t.part[1][1].data();
  const int32_t* gv = t.part[1][2].data();
  const int32_t* by = t.part[2][0].data();
  const int32_t* bu = t.part[2][1].data();
  const int32_t* bv = t.part[2][2].data();
  const bool grey = l.kind == Kind::kGrey;
  // Grey frames read as luma with neutral chroma.
  const uint32_t neutral = 1u << (l.bits - 1);
  const int chromaShift = l.blockWidth == 2 ? 1 : 0;
  for (int32_t row = 0; row < height; ++row) {
    uint8_t* out = bgr.data() + static_cast<size_t>(ShownRow(f, row)) * width * kBytesPerPixel;
    const uint8_t* yRow = SampleAt(f, l, 0, 0, row);
    const uint8_t* uRow = grey ? nullptr : SampleAt(f, l, 1, 0, row);
    const uint8_t* vRow = grey ? nullptr : SampleAt(f, l, 2, 0, row);
    const size_t yStep = static_cast<size_t>(l.parts[0].step);
    const size_t uStep = static_cast<size_t>(l.parts[1].step);
    const size_t vStep = static_cast<size_t>(l.parts[2].step);
    for (int32_t x = 0; x < width; ++x, out += kBytesPerPixel) {
      const size_t c = static_cast<size_t>(x >> chromaShift);
      const uint32_t y = Load(l, yRow + static_cast<size_t>(x) * yStep);
      const uint32_t u = grey ? neutral : Load(l, uRow + c * uStep);
      const uint32_t v = grey ? neutral : Load(l, vRow + c * vStep);
      out[0] = LevelOf(by[y] + bu[u] + bv[v]);
      out[1] = LevelOf(gy[y] + gu[u] + gv[v]);
      out[2] = LevelOf(ry[y] + ru[u] + rv[v]);
    }
  }
  return true;
}

void WriteFrame(obs_source_frame& f, const std::vector<uint8_t>& before, const std::vector<uint8_t>& after) {
  const Layout* layout = LayoutOf(f.format);
  const size_t bytes = static_cast<size_t>(f.width) * f.height * kBytesPerPixel;
  if (layout == nullptr || before.size() != bytes || after.size() != bytes) return;
  if (layout->kind == Kind::kRgb) {
    WriteRgb(f, *layout, before, after);
    return;
  }
  const Colour colour = ColourOf(f, f.format);
  const Inverse inverse = InverseOf(colour);
  if (inverse.ok) WriteYuv(f, *layout, colour, inverse, before, after);
}

}  // namespace tiko::obs
