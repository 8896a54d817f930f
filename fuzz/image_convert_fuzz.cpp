// A picture of any layout, mask kind and size, converted to another layout
// and rescaled to another size under every kernel set this processor runs,
// compared byte for byte with a plain evaluation of the scalar references:
// the row kernels (BgrRowToYuv422Ref and the others) walked over the rows,
// and the rescaling rules (MapAxis and InterpolateRowRef for the interpolated
// samples, the nearest lower sample for chroma and the transparency plane).
//
// Every picture block is a heap block of exactly its size, so the sanitizers
// see any access past a row or a plane.
//
// Input: byte 0 source layout, mask kind and target layout; byte 1 an unknown
// target code when 240 or more; bytes 2, 3 width and height (0 .. 66); bytes
// 4, 5 the rescaled width and height (0 .. 139, or -1 .. -6 from 250 up); the
// rest are the picture's bytes, repeated as needed.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/convert.h"
#include "image/kernel_set.h"
#include "image/layout.h"
#include "image/scale.h"
#include "package/heap.h"

namespace {

using tiko::Image;

constexpr uint8_t kFormats[] = {tiko::kFormatBgr24, tiko::kFormatYuv422, tiko::kFormatYuv420};
constexpr uint8_t kMasks[] = {tiko::kMaskNone, tiko::kMaskBit, tiko::kMaskByte};
constexpr int32_t kMaxSide = 67;
constexpr int32_t kMaxScaledSide = 140;
constexpr uint8_t kFirstNegative = 250;
constexpr uint8_t kFirstUnknownTarget = 240;
constexpr size_t kHeaderBytes = 6;

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "image_convert_fuzz: %s\n", what);
    std::abort();
  }
}

// A picture as plain bytes: pixel data, then the plane.
struct Picture {
  uint8_t format = 0;
  uint8_t mask = 0;
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> pixels;
  std::vector<uint8_t> plane;
};

size_t Size(int64_t size) {
  Require(size >= 0, "size rule refused a small picture");
  return static_cast<size_t>(size);
}

Picture Empty(uint8_t format, uint8_t mask, int32_t width, int32_t height) {
  Picture p;
  p.format = format;
  p.mask = mask;
  p.width = width;
  p.height = height;
  p.pixels.assign(Size(tiko::PixelDataSize(format, width, height)), 0);
  p.plane.assign(Size(tiko::MaskDataSize(mask, width, height)), 0);
  return p;
}

size_t ChromaWidth(int32_t width) { return static_cast<size_t>(tiko::ChromaWidth(width)); }
size_t ChromaHeight(int32_t height) { return static_cast<size_t>(tiko::ChromaHeight(height)); }
size_t Row(uint8_t format, int32_t width) { return Size(tiko::RowSize(format, width)); }

// ---- the references, walked over whole pictures ----------------------------

Picture ToBgr(const Picture& in) {
  Picture out = Empty(tiko::kFormatBgr24, in.mask, in.width, in.height);
  out.plane = in.plane;
  const size_t outRow = Row(tiko::kFormatBgr24, in.width);
  for (int32_t y = 0; y < in.height; ++y) {
    uint8_t* target = out.pixels.data() + size_t(y) * outRow;
    if (in.format == tiko::kFormatYuv422) {
      tiko::Yuv422RowToBgrRef(in.pixels.data() + size_t(y) * Row(in.format, in.width), in.width, target);
    } else {
      const uint8_t* u = in.pixels.data() + size_t(in.width) * size_t(in.height);
      const uint8_t* v = u + ChromaWidth(in.width) * ChromaHeight(in.height);
      const size_t chromaRow = size_t(y / 2) * ChromaWidth(in.width);
      tiko::Yuv420RowToBgrRef(in.pixels.data() + size_t(y) * size_t(in.width), u + chromaRow, v + chromaRow,
                              in.width, target);
    }
  }
  return out;
}

Picture FromBgr(const Picture& in, uint8_t format) {
  Picture out = Empty(format, in.mask, in.width, in.height);
  out.plane = in.plane;
  const size_t inRow = Row(tiko::kFormatBgr24, in.width);
  if (format == tiko::kFormatYuv422) {
    for (int32_t y = 0; y < in.height; ++y) {
      tiko::BgrRowToYuv422Ref(in.pixels.data() + size_t(y) * inRow, in.width,
                              out.pixels.data() + size_t(y) * Row(format, in.width));
    }
    return out;
  }
  const size_t w = size_t(in.width);
  uint8_t* u = out.pixels.data() + w * size_t(in.height);
  uint8_t* v = u + ChromaWidth(in.width) * ChromaHeight(in.height);
  std::vector<double> means(2 * ChromaWidth(in.width) + 2);
  for (int32_t y = 0; y < in.height; y += 2) {
    const bool pair = y + 1 < in.height;
    const size_t chromaRow = size_t(y / 2) * ChromaWidth(in.width);
    tiko::BgrRowPairToYuv420Ref(in.pixels.data() + size_t(y) * inRow,
                                pair ? in.pixels.data() + size_t(y + 1) * inRow : nullptr, in.width, means.data(),
                                out.pixels.data() + size_t(y) * w,
                                pair ? out.pixels.data() + size_t(y + 1) * w : nullptr, u + chromaRow,
                                v + chromaRow);
  }
  return out;
}

// The layout change ConvertImage makes: direct to and from BGR24, through
// BGR24 between the two YUV layouts.
Picture Convert(const Picture& in, uint8_t format) {
  if (format == in.format) return in;
  const Picture bgr = in.format == tiko::kFormatBgr24 ? in : ToBgr(in);
  return format == tiko::kFormatBgr24 ? bgr : FromBgr(bgr, format);
}

void InterpolatePlane(const uint8_t* source, size_t sourceRow, const Picture& in, uint8_t* out, size_t row,
                      int32_t width, int32_t height, int32_t channels, int32_t stride) {
  for (int32_t i = 0; i < height; ++i) {
    const tiko::AxisSample r = tiko::MapAxis(i, in.height, height);
    tiko::InterpolateRowRef(source + size_t(r.low) * sourceRow, source + size_t(r.high) * sourceRow, in.width, width,
                            height - r.fraction, r.fraction, channels, stride, out + size_t(i) * row);
  }
}

int32_t Low(int32_t index, int32_t source, int32_t destination) {
  return tiko::MapAxis(index, source, destination).low;
}

Picture Rescale(const Picture& in, int32_t width, int32_t height) {
  Picture out = Empty(in.format, in.mask, width, height);
  if (width == 0 || height == 0) return out;
  switch (in.format) {
    case tiko::kFormatBgr24:
      InterpolatePlane(in.pixels.data(), Row(in.format, in.width), in, out.pixels.data(), Row(in.format, width),
                       width, height, 3, 3);
      break;
    case tiko::kFormatYuv422: {
      const size_t sourceRow = Row(in.format, in.width);
      const size_t row = Row(in.format, width);
      InterpolatePlane(in.pixels.data(), sourceRow, in, out.pixels.data(), row, width, height, 1, 2);
      for (int32_t i = 0; i < height; ++i) {
        uint8_t* target = out.pixels.data() + size_t(i) * row;
        const uint8_t* low = in.pixels.data() + size_t(Low(i, in.height, height)) * sourceRow;
        for (int32_t j = 0; j < width; j += 2) {
          const uint8_t* group = low + size_t(Low(j, in.width, width) / 2) * 4;
          target[size_t(j / 2) * 4 + 1] = group[1];
          target[size_t(j / 2) * 4 + 3] = group[3];
        }
        // The byte of the last group that belongs to no pixel repeats its Y.
        if (width % 2 != 0) target[size_t(width / 2) * 4 + 2] = target[size_t(width / 2) * 4];
      }
      break;
    }
    default: {
      InterpolatePlane(in.pixels.data(), size_t(in.width), in, out.pixels.data(), size_t(width), width, height, 1, 1);
      const size_t sourceChroma = ChromaWidth(in.width) * ChromaHeight(in.height);
      const uint8_t* su = in.pixels.data() + size_t(in.width) * size_t(in.height);
      const uint8_t* sv = su + sourceChroma;
      uint8_t* u = out.pixels.data() + size_t(width) * size_t(height);
      uint8_t* v = u + ChromaWidth(width) * ChromaHeight(height);
      for (int32_t i = 0; i < height; i += 2) {
        for (int32_t j = 0; j < width; j += 2) {
          const size_t s = size_t(Low(i, in.height, height) / 2) * ChromaWidth(in.width) +
                           size_t(Low(j, in.width, width) / 2);
          const size_t t = size_t(i / 2) * ChromaWidth(width) + size_t(j / 2);
          u[t] = su[s];
          v[t] = sv[s];
        }
      }
      break;
    }
  }
  for (int32_t i = 0; i < height && in.mask != tiko::kMaskNone; ++i) {
    for (int32_t j = 0; j < width; ++j) {
      const size_t s = size_t(Low(i, in.height, height)) * size_t(in.width) + size_t(Low(j, in.width, width));
      const size_t t = size_t(i) * size_t(width) + size_t(j);
      if (in.mask == tiko::kMaskByte) {
        out.plane[t] = in.plane[s];
      } else if ((in.plane[s / 8] >> (s % 8)) & 1) {
        out.plane[t / 8] = static_cast<uint8_t>(out.plane[t / 8] | (1u << (t % 8)));
      }
    }
  }
  return out;
}

// ---- the player's pictures ------------------------------------------------

// An Image holding a copy of the picture in a block of exactly its size. The
// stored entry is left empty, so a rescale never goes back to a package.
Image MakeImage(const Picture& p) {
  Image image{};
  image.width = p.width;
  image.height = p.height;
  image.pixelFormat = p.format;
  image.maskKind = p.mask;
  image.pixelDataSize = static_cast<int32_t>(p.pixels.size());
  image.maskDataSize = static_cast<int32_t>(p.plane.size());
  image.totalSize = image.pixelDataSize + image.maskDataSize;
  image.data = static_cast<uint8_t*>(tiko::MemAlloc(size_t(image.totalSize), 0));
  Require(image.data != nullptr, "allocation failed");
  if (!p.pixels.empty()) std::memcpy(image.data, p.pixels.data(), p.pixels.size());
  if (!p.plane.empty()) std::memcpy(image.data + p.pixels.size(), p.plane.data(), p.plane.size());
  return image;
}

void RequireSame(const Image& image, const Picture& expected, const char* what) {
  Require(image.pixelFormat == expected.format && image.maskKind == expected.mask, what);
  Require(image.width == expected.width && image.height == expected.height, what);
  Require(tiko::HasLayoutSizes(image), what);
  Require(size_t(image.pixelDataSize) == expected.pixels.size(), what);
  Require(size_t(image.maskDataSize) == expected.plane.size(), what);
  Require(image.data != nullptr, what);
  // memcmp is never given the null data of an empty vector, even for 0 bytes.
  if (!expected.pixels.empty()) {
    Require(std::memcmp(image.data, expected.pixels.data(), expected.pixels.size()) == 0, what);
  }
  if (!expected.plane.empty()) {
    Require(std::memcmp(image.data + image.pixelDataSize, expected.plane.data(), expected.plane.size()) == 0, what);
  }
}

int32_t ScaledSide(uint8_t byte) {
  return byte >= kFirstNegative ? -static_cast<int32_t>(byte - kFirstNegative + 1) : byte % kMaxScaledSide;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHeaderBytes) return 0;
  const uint8_t format = kFormats[data[0] % 3];
  const uint8_t mask = kMasks[(data[0] / 3) % 3];
  const uint8_t target = data[1] >= kFirstUnknownTarget ? data[1] : kFormats[(data[0] / 9) % 3];
  const int32_t width = data[2] % kMaxSide;
  const int32_t height = data[3] % kMaxSide;
  const int32_t scaledWidth = ScaledSide(data[4]);
  const int32_t scaledHeight = ScaledSide(data[5]);
  const uint8_t* bytes = data + kHeaderBytes;
  const size_t count = size - kHeaderBytes;

  Picture source = Empty(format, mask, width, height);
  size_t at = 0;
  for (auto* part : {&source.pixels, &source.plane}) {
    for (uint8_t& b : *part) b = count == 0 ? 0 : bytes[at++ % count];
  }
  const bool known = target == tiko::kFormatBgr24 || target == tiko::kFormatYuv422 || target == tiko::kFormatYuv420;
  // An unknown target is refused; from a YUV layout the first step to BGR24
  // has been taken by then, and the picture stays valid in BGR24.
  const Picture converted = known ? Convert(source, target) : Convert(source, tiko::kFormatBgr24);

  const bool sameSize = scaledWidth == width && scaledHeight == height;
  const bool negative = scaledWidth < 0 || scaledHeight < 0;
  const bool empty = scaledWidth == 0 || scaledHeight == 0;
  const bool refused = sameSize || negative || (!empty && (width == 0 || height == 0));
  Picture scaled;
  if (!refused) scaled = Rescale(converted, scaledWidth, scaledHeight);

  for (int32_t set = tiko::kKernelsScalar; set < tiko::kKernelSetCount; ++set) {
    if (tiko::SelectKernelSet(set) == 0) continue;

    Image image = MakeImage(source);
    Require(tiko::ConvertImage(&image, target) == (known ? 1 : 0), "conversion result");
    RequireSame(image, converted, "conversion differs from the references");

    // A copy leaves the picture as it was; in place it takes the new size.
    Image* copy = tiko::ResizeImage(nullptr, &image, scaledWidth, scaledHeight, 1);
    Require((copy == nullptr) == refused, "rescaled copy given or refused wrongly");
    RequireSame(image, converted, "a rescaled copy changed its source");
    if (copy != nullptr) {
      Require(copy != &image, "the copy is the source");
      RequireSame(*copy, scaled, "rescaled copy differs from the references");
      tiko::MemFree(copy->data);
      tiko::MemFree(copy);
    }
    Image* same = tiko::ResizeImage(nullptr, &image, scaledWidth, scaledHeight, 0);
    Require((same == nullptr) == refused, "rescale given or refused wrongly");
    if (same != nullptr) {
      Require(same == &image, "rescale in place gave another picture");
      RequireSame(image, scaled, "rescale in place differs from the references");
    } else {
      RequireSame(image, converted, "a refused rescale changed the picture");
    }
    tiko::MemFree(image.data);
  }
  return 0;
}
