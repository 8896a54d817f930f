// A package whose one picture shows what a frame's shape does to
// proportions, and the measure of it in a rendered frame.
#pragma once

#include "authoring/writer.h"
#include "host/image_bitmap.h"

namespace tiko::test {

// A white disc on a picture with a 1-bit plane, a fifth of the stage wide
// and as high as its proportions say, in the middle of the stage: what a
// frame does to proportions shows in its shape.
authoring::PackageDesc DiscPackage();

// The box around the white pixels of a top-down picture.
struct Box {
  int left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1;
  int width() const { return right - left + 1; }
  int height() const { return bottom - top + 1; }
};
Box WhiteBox(const host::BgrImage& image);

}  // namespace tiko::test
