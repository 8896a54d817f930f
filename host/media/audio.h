// The sound track of a render: sound files decoded into the mix format
// (interleaved stereo float at kMixRate) and laid into it at frame times.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tiko::media {

// Decodes a whole sound file (a wave file, or anything FFmpeg reads) into
// the mix format. Throws MediaError naming the file.
std::vector<float> ReadSoundFile(const std::string& path);

// Adds `sound` into `mix` from sample frame `at` on, cut at the mix's end.
void MixInto(std::vector<float>& mix, const std::vector<float>& sound, int64_t at);

// The sample frame at which video frame `frame` of a `rate` frames a second
// render starts.
int64_t SampleOfFrame(int64_t frame, double rate);

}  // namespace tiko::media
