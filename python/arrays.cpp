#include "python/arrays.h"

#include <cstring>

#include "host/stage.h"

namespace tiko::python {
namespace {

constexpr int32_t kPixelBytes = 3;

std::string ShapeText(PixelShape shape) {
  const auto side = [](int64_t n, const char* any) { return n == kAnySide ? std::string(any) : std::to_string(n); };
  return "(" + side(shape.height, "H") + ", " + side(shape.width, "W") + ", " + side(shape.channels, "C") + ")";
}

bool Fits(int64_t wanted, py::ssize_t given) { return wanted == kAnySide || wanted == given; }

}  // namespace

py::array_t<uint8_t> PixelArray(py::handle value, const std::string& what, PixelShape shape) {
  const std::string expected = "a NumPy array of shape " + ShapeText(shape) + " and dtype uint8";
  if (!py::isinstance<py::array>(value)) {
    throw py::type_error(what + ": expected " + expected + ", not " +
                         py::str(py::type::of(value).attr("__name__")).cast<std::string>());
  }
  const auto array = py::reinterpret_borrow<py::array>(value);
  if (!array.dtype().is(py::dtype::of<uint8_t>())) {
    throw py::type_error(what + ": expected dtype uint8, not " + py::str(array.dtype()).cast<std::string>());
  }
  const bool shaped = array.ndim() == 3 && Fits(shape.height, array.shape(0)) && Fits(shape.width, array.shape(1)) &&
                      Fits(shape.channels, array.shape(2));
  if (!shaped) {
    throw py::value_error(what + ": expected shape " + ShapeText(shape) + ", not " +
                          py::str(value.attr("shape")).cast<std::string>());
  }
  // Slices, transposes and views with negative strides are right but for
  // their layout: read from a copy.
  auto pixels = py::array_t<uint8_t, py::array::c_style | py::array::forcecast>::ensure(value);
  if (!pixels) throw py::error_already_set();
  return pixels;
}

py::array_t<uint8_t> NewPixels(int32_t height, int32_t width, int32_t channels) {
  return py::array_t<uint8_t>({py::ssize_t{height}, py::ssize_t{width}, py::ssize_t{channels}});
}

void CopyPixels(const uint8_t* src, uint8_t* dst, int32_t width, int32_t height, bool flip, bool swap) {
  const size_t rowBytes = size_t(width) * kPixelBytes;
  if (!swap) {
    if (flip) {
      host::FlipRows(src, dst, width, height);
    } else {
      std::memcpy(dst, src, rowBytes * size_t(height));
    }
    return;
  }
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* in = src + rowBytes * size_t(flip ? height - 1 - y : y);
    uint8_t* out = dst + rowBytes * size_t(y);
    for (size_t x = 0; x < rowBytes; x += kPixelBytes) {
      out[x] = in[x + 2];
      out[x + 1] = in[x + 1];
      out[x + 2] = in[x];
    }
  }
}

}  // namespace tiko::python
