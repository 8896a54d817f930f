#include "host/media/cue_mix.h"

#include <algorithm>
#include <cmath>

#include "host/media/audio.h"
#include "host/media/common.h"

namespace tiko::media {

namespace {

// A package names a handful of cues; a host that keeps switching packages
// must not keep every sound it ever heard.
constexpr size_t kKeptSounds = 64;

}  // namespace

int64_t CueMix::EndOf(const Playing& cue) {
  return cue.at + static_cast<int64_t>(cue.sound->samples.size() / kMixChannels);
}

int16_t ToS16(float sample) {
  const float clipped = std::clamp(sample, -1.0f, 1.0f);
  return static_cast<int16_t>(std::lrint(clipped * 32767.0f));
}

void CueMix::Start(const std::string& path, int64_t at) {
  auto found = sounds_.find(path);
  if (found == sounds_.end()) {
    if (sounds_.size() >= kKeptSounds) {
      // Only sounds no cue plays any more go; the playing ones hold their own.
      sounds_.clear();
    }
    auto sound = std::make_shared<Sound>();
    try {
      sound->samples = ReadSoundFile(path);
    } catch (const MediaError& error) {
      sound->error = error.what();
    }
    found = sounds_.emplace(path, std::move(sound)).first;
  }
  if (!found->second->error.empty()) throw MediaError(found->second->error);
  playing_.push_back({found->second, at});
}

void CueMix::Pull(int64_t from, int32_t frames, int16_t* out) {
  if (frames <= 0) return;
  const int64_t to = from + frames;
  std::vector<float> mix(static_cast<size_t>(frames) * kMixChannels, 0.0f);
  for (const Playing& cue : playing_) {
    const std::vector<float>& samples = cue.sound->samples;
    const int64_t end = EndOf(cue);
    const int64_t first = std::max(from, cue.at);
    const int64_t last = std::min(to, end);
    for (int64_t t = first; t < last; ++t) {
      const auto src = static_cast<size_t>(t - cue.at) * kMixChannels;
      const auto dst = static_cast<size_t>(t - from) * kMixChannels;
      mix[dst] += samples[src];
      mix[dst + 1] += samples[src + 1];
    }
  }
  std::transform(mix.begin(), mix.end(), out, ToS16);
  std::erase_if(playing_, [&](const Playing& cue) { return EndOf(cue) <= to; });
}

bool CueMix::SoundsAfter(int64_t at) const {
  return std::any_of(playing_.begin(), playing_.end(), [&](const Playing& cue) {
    return EndOf(cue) > at;
  });
}

}  // namespace tiko::media
