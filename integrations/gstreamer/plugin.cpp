// The tiko plugin: one element, tikooverlay.
#include <gst/gst.h>

#include "integrations/gstreamer/overlay.h"

#ifndef PACKAGE
#define PACKAGE "tiko"
#endif

namespace {

gboolean PluginInit(GstPlugin* plugin) {
  return gst_element_register(plugin, "tikooverlay", GST_RANK_NONE, TIKO_TYPE_OVERLAY);
}

}  // namespace

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, tiko,
                  "tiko video effects: animated pictures over video that follow the eyes", PluginInit,
                  TIKO_VERSION, GST_LICENSE_UNKNOWN, "tiko", "tiko")
