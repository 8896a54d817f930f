// The default sound output through SDL2: interleaved 16-bit stereo at
// 48 kHz, pulled a block at a time by a callback on SDL's audio thread. Shared
// by the window's cue mixer and by hosts that mix cues themselves.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tiko::host {

inline constexpr int kSoundOutputRate = 48000;
inline constexpr int kSoundOutputChannels = 2;

class SoundOutput {
 public:
  // Fills `bytes` bytes of samples; called on the audio thread.
  using Fill = void (*)(void* userdata, uint8_t* stream, int bytes);

  // Opens and starts the device, `blockFrames` frames a callback. Null with
  // `error` set when there is no sound output.
  static std::unique_ptr<SoundOutput> Open(uint16_t blockFrames, Fill fill, void* userdata, std::string* error);
  ~SoundOutput();
  SoundOutput(const SoundOutput&) = delete;
  SoundOutput& operator=(const SoundOutput&) = delete;

  // Holds the callback off while the caller changes what it reads.
  void Lock();
  void Unlock();

 private:
  explicit SoundOutput(uint32_t device) : device_(device) {}
  uint32_t device_;
};

}  // namespace tiko::host
