// The NumPy arrays frames and pictures come in and go out as: (height,
// width, channels) of uint8, rows top-down, pixels one after another.
#pragma once

#include <pybind11/numpy.h>

#include <cstdint>
#include <string>

#include "python/module.h"

namespace tiko::python {

// The shape an argument must have; kAnySide for a side of any length.
inline constexpr int64_t kAnySide = -1;
struct PixelShape {
  int64_t height;
  int64_t width;
  int64_t channels;
};

// `value` as an array that can be read row after row: itself when it is
// C-contiguous, else a copy. Throws TypeError for what is not a uint8 array
// and ValueError for another shape, both naming `what`.
py::array_t<uint8_t> PixelArray(py::handle value, const std::string& what, PixelShape shape);

// A new (height, width, channels) uint8 array.
py::array_t<uint8_t> NewPixels(int32_t height, int32_t width, int32_t channels);

// Copies a width x height picture of 3-byte pixels, its rows turned over
// (top-down to bottom-up or back) when `flip`, its first and third bytes
// swapped (RGB to BGR or back) when `swap`.
void CopyPixels(const uint8_t* src, uint8_t* dst, int32_t width, int32_t height, bool flip, bool swap);

}  // namespace tiko::python
