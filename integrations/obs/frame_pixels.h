// The pixels of the CPU frames OBS hands an asynchronous video filter, as
// the player's top-down BGR24, and back. Every 8-bit format OBS has (planar,
// semi-planar and packed YUV with or without alpha, RGB with 3 or 4 bytes a
// pixel, grey) and its 10- and 12-bit planar ones are read and written in
// place, with the frame's own colour matrix and range: the same arithmetic
// OBS's renderer applies, so a picture looks the same before and after.
#pragma once

#include <obs.h>

#include <cstdint>
#include <vector>

namespace tiko::obs {

// Whether frames of this format can be read and written.
bool CanConvert(video_format format);

// The frame's pixels as top-down BGR24 of width x height into `bgr`
// (resized). False, with `bgr` untouched, for a format that cannot be read.
bool ReadFrame(const obs_source_frame& frame, std::vector<uint8_t>& bgr);

// Writes the top-down BGR24 picture `after` into the frame, where it differs
// from `before` (what ReadFrame gave for this frame): pixels the effects did
// not touch keep their stored values exactly, so a picture without effects
// loses nothing. A chroma sample shared by several pixels is taken again
// from all of them when any of them changed. Alpha stays as it is.
void WriteFrame(obs_source_frame& frame, const std::vector<uint8_t>& before, const std::vector<uint8_t>& after);

}  // namespace tiko::obs
