#include "cue_feed.h"

#include <obs-module.h>
#include <util/platform.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

#include "host/media/audio.h"
#include "host/media/common.h"

namespace tiko::obs {
namespace {

constexpr int64_t kRate = media::kMixRate;
constexpr int kChannels = 2;
constexpr uint64_t kSecond = 1000000000ull;
// Frames further apart than this (a pause, a seek, a looped file) start a
// new stretch of the timeline rather than a second of silence to catch up.
constexpr uint64_t kLongestGap = kSecond;
// How often the cue source is looked for by name.
constexpr uint64_t kLookInterval = kSecond;
// Sound is handed over in pieces of at most this many sample frames.
constexpr int32_t kLargestPiece = 4800;

// The cue sources that exist, for the filters to find by name on the video
// thread without taking any of OBS's own locks (the source list's lock is
// taken by threads that may wait on the filter's parent).
std::mutex cueSourcesMutex;
std::vector<obs_source_t*> cueSources;

// The cue source holds nothing of its own: the filters feed it.
void* CreateCueSource(obs_data_t*, obs_source_t* source) {
  try {
    std::lock_guard<std::mutex> lock(cueSourcesMutex);
    cueSources.push_back(source);
  } catch (const std::bad_alloc&) {
    return nullptr;  // OBS reports the source as not created
  }
  return source;
}

void DestroyCueSource(void* data) {
  std::lock_guard<std::mutex> lock(cueSourcesMutex);
  std::erase(cueSources, static_cast<obs_source_t*>(data));
}

// A weak reference to the cue source of this name, or null.
obs_weak_source_t* FindCueSource(const std::string& name) {
  std::lock_guard<std::mutex> lock(cueSourcesMutex);
  for (obs_source_t* source : cueSources) {
    const char* sourceName = obs_source_get_name(source);
    if (sourceName != nullptr && name == sourceName) return obs_source_get_weak_source(source);
  }
  return nullptr;
}
const char* CueSourceName(void*) { return obs_module_text("TikoCueSounds"); }

}  // namespace

void RegisterCueSource() {
  obs_source_info info{};
  info.id = kCueSourceId;
  info.type = OBS_SOURCE_TYPE_INPUT;
  info.output_flags = OBS_SOURCE_AUDIO;
  info.get_name = CueSourceName;
  info.create = CreateCueSource;
  info.destroy = DestroyCueSource;
  info.icon_type = OBS_ICON_TYPE_AUDIO_OUTPUT;
  obs_register_source(&info);
}

CueFeed::~CueFeed() { obs_weak_source_release(target_); }

void CueFeed::SetTarget(const std::string& name) {
  if (name == targetName_) return;
  targetName_ = name;
  obs_weak_source_release(target_);
  target_ = nullptr;
  nextLook_ = 0;
}

void CueFeed::Look(uint64_t now) {
  if (now < nextLook_) return;
  nextLook_ = now + kLookInterval;
  if (obs_source_t* held = obs_weak_source_get_source(target_)) {
    const bool same = std::strcmp(obs_source_get_name(held), targetName_.c_str()) == 0;
    obs_source_release(held);
    if (same) return;  // still there under its name
  }
  obs_weak_source_release(target_);
  target_ = targetName_.empty() ? nullptr : FindCueSource(targetName_);
}

int64_t CueFeed::SampleOf(uint64_t timestamp) const {
  const int64_t since = static_cast<int64_t>(timestamp - anchorTime_);
  return anchorSample_ + since / static_cast<int64_t>(kSecond) * kRate +
         since % static_cast<int64_t>(kSecond) * kRate / static_cast<int64_t>(kSecond);
}

uint64_t CueFeed::TimeOf(int64_t sample) const {
  const int64_t since = sample - anchorSample_;
  return anchorTime_ + static_cast<uint64_t>(since / kRate) * kSecond +
         static_cast<uint64_t>(since % kRate) * kSecond / static_cast<uint64_t>(kRate);
}

void CueFeed::Frame(uint64_t timestamp, uint64_t interval) {
  Look(os_gettime_ns());
  interval_ = interval;
  if (!started_ || timestamp < frameTime_ || timestamp - frameTime_ > kLongestGap) {
    // The first frame, or the timeline jumped: this frame's time becomes the
    // sample frame not handed out yet, so the sound goes on without a gap.
    anchorTime_ = timestamp;
    anchorSample_ = next_;
    started_ = true;
  }
  frameTime_ = timestamp;
}

void CueFeed::Cue(const std::string& path) {
  try {
    mix_.Start(path, SampleOf(frameTime_));
  } catch (const media::MediaError& e) {
    // A package may name sounds its author did not ship: once in the log.
    if (warned_.insert(path).second) blog(LOG_WARNING, "[tiko-obs] sound cue not played: %s", e.what());
  } catch (const std::bad_alloc&) {
    blog(LOG_WARNING, "[tiko-obs] sound cue not played: out of memory for %s", path.c_str());
  }
}

void CueFeed::Flush() {
  if (!started_) return;
  // The next frame comes one frame interval later at the soonest, so its
  // cues start at or after the end of what is handed out now.
  const int64_t end = SampleOf(frameTime_ + interval_);
  if (!mix_.SoundsAfter(next_)) {
    // Nothing sounds: the source stays silent rather than being fed
    // silence, so that OBS spends nothing on it.
    next_ = std::max(next_, end);
    return;
  }
  while (next_ < end) {
    const int32_t frames = static_cast<int32_t>(std::min<int64_t>(end - next_, kLargestPiece));
    Output(next_, frames);
    next_ += frames;
  }
}

void CueFeed::Output(int64_t from, int32_t frames) {
  buffer_.resize(static_cast<size_t>(frames) * kChannels);
  mix_.Pull(from, frames, buffer_.data());
  obs_source_t* target = obs_weak_source_get_source(target_);
  if (target == nullptr) return;
  obs_source_audio audio{};
  audio.data[0] = reinterpret_cast<const uint8_t*>(buffer_.data());
  audio.frames = static_cast<uint32_t>(frames);
  audio.speakers = SPEAKERS_STEREO;
  audio.format = AUDIO_FORMAT_16BIT;
  audio.samples_per_sec = static_cast<uint32_t>(kRate);
  audio.timestamp = TimeOf(from);
  obs_source_output_audio(target, &audio);
  obs_source_release(target);
}

}  // namespace tiko::obs
