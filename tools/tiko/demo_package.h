// The demo show: its pictures are drawn here, its sound cues synthesized, so
// that the demo needs no files beyond the program itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "authoring/writer.h"

namespace tiko::tool {

// The package: glasses lenses that follow the eyes, a bouncing ball, falling
// stars that wrap around, a caption that fades in and out; pictures in each
// layout and kind of transparency.
authoring::PackageDesc DemoPackage();

// The wave files its cues play, by file name ("bop.wav", "hi.wav").
struct WaveFile {
  std::string name;
  std::vector<uint8_t> bytes;
};
std::vector<WaveFile> DemoSounds();

}  // namespace tiko::tool
