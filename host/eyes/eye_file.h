// Eye positions kept in CSV files: one line per video frame,
// "frame,x1,y1,x2,y2", in the 320 x 240 eye space with row 0 at the top.
// Frames count from 0. An eye whose two fields are empty is not reported on
// that frame, and a frame without a line reports none. A negative coordinate
// anywhere on a line hides both eyes' actors on that frame. Blank lines,
// lines starting with '#' and a first line of column names are skipped.
//
// A file is often written by hand or by another program, and one bad line
// should not cost the whole render: a line that cannot be read is skipped
// with a warning, and a point outside the eye space (most likely from a file
// made for another frame size) is kept, as the player maps it all the same,
// with a warning.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "host/eyes/eye_detector.h"
#include "host/eyes/eye_reports.h"

namespace tiko::host {

// The eyes reported on one frame, the first one first.
struct FrameEyes {
  std::vector<EyePoint> eyes;
  // The line gives the second eye alone: `eyes` holds it, and it drives the
  // "$eye2" actors.
  bool secondOnly = false;
};

// The eyes of a frame by their place, as EyeReporter::Next takes them.
SeenEyes SeenOf(const FrameEyes& frame);

using EyeTable = std::map<int64_t, FrameEyes>;

// Reads an eye file. Every line skipped or doubted adds "FILE:LINE: what is
// wrong" to `warnings` (which may be null). Throws std::runtime_error with
// the system's reason when the file cannot be opened or read.
EyeTable ReadEyeFile(const std::string& path, std::vector<std::string>* warnings);

// Writes the lines for frames that have eyes; false when the file cannot be
// written (with `error` set, the system's reason in it).
bool WriteEyeFile(const std::string& path, const EyeTable& table, std::string* error);

}  // namespace tiko::host
