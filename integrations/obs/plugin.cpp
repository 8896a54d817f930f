// The tiko-obs module: the "tiko effects" filter and the source its sound
// cues are heard through.
#include <obs-module.h>

#include "cue_feed.h"
#include "tiko_filter.h"

OBS_DECLARE_MODULE()
OBS_MODULE_USE_DEFAULT_LOCALE("tiko-obs", "en-US")

MODULE_EXPORT const char* obs_module_description(void) {
  return "tiko effects: animated pictures that follow the eyes, over a video source";
}

bool obs_module_load(void) {
  tiko::obs::RegisterFilter();
  tiko::obs::RegisterCueSource();
  return true;
}
