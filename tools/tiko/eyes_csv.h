// Eye positions kept in CSV files: one line per video frame,
// "frame,x1,y1,x2,y2", in the 320 x 240 eye space with row 0 at the top.
// Frames count from 0. An eye whose two fields are empty is not reported on
// that frame, and a frame without a line reports none; a negative coordinate
// hides that eye's actors at once. Blank lines, lines starting with '#' and a
// first line of column names are skipped.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/eyes/eye_detector.h"

namespace tiko::tool {

// The eyes reported on one frame, the first one first.
struct FrameEyes {
  std::vector<host::EyePoint> eyes;
};

using EyeTable = std::map<int64_t, FrameEyes>;

// Reads an eye file. Throws std::runtime_error with "FILE:LINE: what is wrong".
EyeTable ReadEyeFile(const std::string& path);

// Writes the lines for frames that have eyes; false when the file cannot be
// written (with `error` set).
bool WriteEyeFile(const std::string& path, const EyeTable& table, std::string* error);

}  // namespace tiko::tool
