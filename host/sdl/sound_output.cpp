#include "host/sdl/sound_output.h"

#include <SDL.h>

namespace tiko::host {

std::unique_ptr<SoundOutput> SoundOutput::Open(uint16_t blockFrames, Fill fill, void* userdata, std::string* error) {
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    *error = SDL_GetError();
    return nullptr;
  }
  SDL_AudioSpec want{.freq = kSoundOutputRate,
                     .format = AUDIO_S16SYS,
                     .channels = kSoundOutputChannels,
                     .silence = 0,
                     .samples = blockFrames,
                     .padding = 0,
                     .size = 0,
                     .callback = fill,
                     .userdata = userdata};
  // No changes allowed: SDL converts to whatever the hardware wants, and the
  // callers mix in this one format.
  const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
  if (device == 0) {
    *error = SDL_GetError();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return nullptr;
  }
  std::unique_ptr<SoundOutput> output(new (std::nothrow) SoundOutput(device));
  if (output == nullptr) {
    SDL_CloseAudioDevice(device);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    *error = "out of memory";
    return nullptr;
  }
  SDL_PauseAudioDevice(device, 0);
  return output;
}

SoundOutput::~SoundOutput() {
  SDL_CloseAudioDevice(device_);
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

void SoundOutput::Lock() { SDL_LockAudioDevice(device_); }
void SoundOutput::Unlock() { SDL_UnlockAudioDevice(device_); }

}  // namespace tiko::host
