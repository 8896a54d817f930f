// tikooverlay: a video filter that lays a tiko package's effects over raw
// video. It drives the player through its public interface with a memory
// window of its own, so every frame it passes on is the player's presented
// frame, converted back to the stream's format. The sound cues the player
// asks for are posted on the bus and mixed on the "audio" source pad.
#pragma once

#include <gst/gst.h>

G_BEGIN_DECLS

GType tiko_overlay_get_type(void);
#define TIKO_TYPE_OVERLAY (tiko_overlay_get_type())

G_END_DECLS

namespace tiko::gst {

// The element message posted for every sound cue.
inline constexpr const char* kCueMessage = "tiko-cue";

}  // namespace tiko::gst
