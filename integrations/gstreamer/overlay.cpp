#include "integrations/gstreamer/overlay.h"

#include <gst/audio/audio.h>
#include <gst/video/gstvideofilter.h>
#include <gst/video/gstvideometa.h>
#include <gst/video/video.h>
#include <sys/stat.h>

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "authoring/writer.h"
#include "host/eyes/eye_detector.h"
#include "host/eyes/eye_file.h"
#include "host/eyes/eye_reports.h"
#include "host/eyes/eye_worker.h"
#include "host/frame_format.h"
#include "host/media/common.h"
#include "host/media/cue_mix.h"
#include "host/memory_window.h"
#include "host/paths.h"
#include "host/player_ptr.h"
#include "host/stage.h"
#include "integrations/gstreamer/frame_formats.h"
#include "tiko/tiko.h"

GST_DEBUG_CATEGORY_STATIC(tiko_overlay_debug);
#define GST_CAT_DEFAULT tiko_overlay_debug

namespace tiko::gst {
namespace {

using host::kBytesPerPixel;
// The size a package is tried at before any frame has come: the player's
// verdict on a package does not depend on the frame's size.
constexpr int kAudioRate = media::kMixRate;
constexpr int kAudioChannels = media::kMixChannels;
constexpr int kAudioFrameBytes = kAudioChannels * 2;
// Video timestamps that miss the audio already sent by less than this are
// rounding, not a gap, and the audio runs on without a break.
constexpr int64_t kAudioSlackSamples = kAudioRate / 1000;
// As much sound as waits for the audio pad before the video waits too: as
// long as a queue element would hold by default.
constexpr int64_t kAudioQueueFrames = kAudioRate;

enum class EyesMode { kAuto, kNone, kMeta };

using host::PlayerPtr;

// The file's identity for watch=true: a new time or size is a new version.
struct FileStamp {
  int64_t seconds = 0;
  int64_t nanoseconds = 0;
  int64_t bytes = 0;
  bool exists = false;
  bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return FileStamp{};
  return FileStamp{info.st_mtim.tv_sec, info.st_mtim.tv_nsec, info.st_size, true};
}

// What the properties say; set from any thread, under the object's lock.
struct Settings {
  std::string location;
  uint64_t locationVersion = 0;  // counts the location's changes
  EyesMode eyes = EyesMode::kAuto;
  host::StageFit fit = host::StageFit::kCover;
  bool watch = false;
};

// What the streaming thread keeps between frames.
struct Stream {
  FrameFormat format = FrameFormat::kBgr;
  int32_t width = 0;
  int32_t height = 0;
  host::StageLayout stage;
  // The window outlives the player, which draws into it until released.
  std::unique_ptr<host::MemoryWindow> window;
  PlayerPtr player;
  std::string package;
  uint64_t locationVersion = 0;
  FileStamp stamp;
  EyesMode eyes = EyesMode::kAuto;
  host::StageFit fit = host::StageFit::kCover;
  host::EyeReporter reporter;
  std::unique_ptr<host::EyeWorker> detector;
  std::vector<uint8_t> hostFrame;    // bottom-up, of the stream's size
  std::vector<uint8_t> playerFrame;  // bottom-up, of the player's size
  std::vector<uint8_t> outFrame;     // top-down, of the stream's size
  ConvertScratch scratch;
  size_t wavesSeen = 0;
  media::CueMix cues;
  std::set<std::string> silentWaves;  // cues whose file could not be read, warned about once
  int64_t audioNext = -1;             // the sample frame the audio pad goes on from; -1: none sent
  GstSegment segment;
  bool audioStarted = false;  // stream-start and caps are out on the audio pad
};

// What waits for the audio pad's own thread, in order: the pad pushes on a
// thread of its own, so that a branch of the pipeline without a queue (a
// sink waiting for the other branch to preroll, a muxer waiting for video)
// never holds up the video that the same streaming thread carries.
struct AudioQueue {
  std::mutex lock;
  std::condition_variable changed;
  std::deque<GstMiniObject*> items;  // buffers and serialized events, owned
  int64_t queuedFrames = 0;
  bool flushing = true;
  bool ended = false;  // the pad's thread has stopped after an end or an error downstream
  GstFlowReturn flow = GST_FLOW_OK;  // the last push's result downstream
};

struct State {
  std::mutex settingsLock;
  Settings settings;
  Stream stream;
  AudioQueue audio;
};

}  // namespace
}  // namespace tiko::gst

using tiko::gst::EyesMode;
using tiko::gst::State;
using tiko::gst::Stream;

struct TikoOverlay {
  GstVideoFilter parent;
  GstPad* audioPad;
  State* state;
};

struct TikoOverlayClass {
  GstVideoFilterClass parent_class;
};

G_DEFINE_TYPE(TikoOverlay, tiko_overlay, GST_TYPE_VIDEO_FILTER)

namespace tiko::gst {
namespace {

enum { kPropLocation = 1, kPropEyes, kPropStage, kPropWatch };

TikoOverlay* Self(gpointer object) { return reinterpret_cast<TikoOverlay*>(object); }

GType EyesModeType() {
  static GType type = 0;
  static const GEnumValue values[] = {
      {static_cast<gint>(EyesMode::kAuto), "Found in each frame by the eye detector (OpenCV's cascades)", "auto"},
      {static_cast<gint>(EyesMode::kNone), "No eyes: eye actors stay hidden", "none"},
      {static_cast<gint>(EyesMode::kMeta), "From upstream GstVideoRegionOfInterestMeta of type \"eye\", in order",
       "meta"},
      {0, nullptr, nullptr}};
  if (g_once_init_enter(&type)) g_once_init_leave(&type, g_enum_register_static("TikoOverlayEyes", values));
  return type;
}

GType StageFitType() {
  static GType type = 0;
  static const GEnumValue values[] = {
      {static_cast<gint>(host::StageFit::kCover), "The 4:3 stage covers the frame, its edges cropped", "cover"},
      {static_cast<gint>(host::StageFit::kFit), "The 4:3 stage fits inside the frame", "fit"},
      {static_cast<gint>(host::StageFit::kStretch), "The stage is stretched to the frame's shape", "stretch"},
      {0, nullptr, nullptr}};
  if (g_once_init_enter(&type)) g_once_init_leave(&type, g_enum_register_static("TikoOverlayStage", values));
  return type;
}

Settings ReadSettings(TikoOverlay* self) {
  std::lock_guard lock(self->state->settingsLock);
  return self->state->settings;
}

// Why the player cannot use the package at `path`, or nothing when it can:
// the reader's reason when it has one, in words a person can act on.
std::optional<std::string> PackageProblem(const std::string& path) {
  if (path.empty()) return std::string("no package: set the location property to a .tiko file");
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return path + ": " + std::strerror(errno);
  if (!S_ISREG(info.st_mode)) return path + ": not a package file";
  const std::optional<std::u16string> wide = host::Utf8ToUtf16(path);
  if (!wide) return path + ": the name is not UTF-8";
  host::MemoryWindow probe(host::kPlayerFrameWidth, host::kPlayerFrameHeight);
  PlayerPtr player(TikoGetInterface());
  if (player == nullptr) throw std::bad_alloc();
  if (player->Open(&probe, wide->c_str(), nullptr) == 1) return std::nullopt;
  try {
    authoring::ReadPackage(authoring::ReadFileBytes(path));
  } catch (const std::runtime_error& e) {
    const std::string what = e.what();
    return what.rfind(path, 0) == 0 ? what : path + ": " + what;
  }
  return path + ": the player refuses this package";
}

void PostPackageError(TikoOverlay* self, const std::string& why) {
  GST_ELEMENT_ERROR(self, RESOURCE, OPEN_READ, ("Cannot use the tiko package: %s", why.c_str()),
                    ("Set location to a package made by `tiko pack` or `tiko sample`."));
}

// Opens the player for frames of the stream's size, with the package the
// settings name now.
bool OpenPlayer(TikoOverlay* self, Stream& s) {
  const Settings settings = ReadSettings(self);
  s.player.reset();
  s.window.reset();
  s.stage = host::LayOutStage(s.width, s.height, s.fit);
  s.window = std::make_unique<host::MemoryWindow>(s.stage.playerWidth, s.stage.playerHeight);
  s.wavesSeen = 0;
  s.reporter.Reset();
  if (s.detector) s.detector->Reset();
  s.package = settings.location;
  s.locationVersion = settings.locationVersion;
  s.stamp = StampOf(s.package);
  s.player.reset(TikoGetInterface());
  if (s.player == nullptr) throw std::bad_alloc();
  const std::optional<std::u16string> wide = host::Utf8ToUtf16(s.package);
  if (!wide || s.player->OpenSized(s.window.get(), wide->c_str(), nullptr, s.stage.playerWidth,
                                   s.stage.playerHeight) != 1) {
    const std::optional<std::string> why = PackageProblem(s.package);
    PostPackageError(self, why.value_or(s.package + ": the player cannot open it at " + std::to_string(s.width) + "x" +
                                        std::to_string(s.height)));
    s.player.reset();
    return false;
  }
  const size_t frameBytes = size_t(s.width) * size_t(s.height) * kBytesPerPixel;
  s.hostFrame.resize(frameBytes);
  s.outFrame.resize(frameBytes);
  s.playerFrame.resize(host::IsIdentity(s.stage)
                           ? 0
                           : size_t(s.stage.playerWidth) * size_t(s.stage.playerHeight) * kBytesPerPixel);
  return true;
}

// Switches packages between frames when the location has changed, or when
// the file has changed under watch=true. A location that cannot be used is
// an error; a watched file that is broken (half saved, perhaps) is a warning,
// and the package playing goes on until the file is whole again.
bool FollowPackage(TikoOverlay* self, Stream& s) {
  const Settings settings = ReadSettings(self);
  const bool moved = settings.locationVersion != s.locationVersion;
  if (!moved && !settings.watch) return true;
  const std::string path = moved ? settings.location : s.package;
  const FileStamp stamp = StampOf(path);
  if (!moved && (!stamp.exists || stamp == s.stamp)) return true;
  s.locationVersion = settings.locationVersion;
  s.stamp = stamp;
  if (const std::optional<std::string> why = PackageProblem(path)) {
    if (moved) {
      PostPackageError(self, *why);
      return false;
    }
    GST_ELEMENT_WARNING(self, RESOURCE, OPEN_READ, ("The changed package cannot be used: %s", why->c_str()),
                        ("The package loaded before goes on playing until the file is whole again."));
    return true;
  }
  const std::optional<std::u16string> wide = host::Utf8ToUtf16(path);
  const bool loaded = wide && s.player->ChangePackage(wide->c_str()) == 1;
  s.reporter.PackageChanged();
  s.cues.Stop();
  s.package = path;
  if (!loaded) {
    PostPackageError(self, path + ": the player refuses this package");
    return false;
  }
  GST_INFO_OBJECT(self, "now playing %s", path.c_str());
  return true;
}

// The centres of the regions of interest of type "eye", in the eye space
// over the frame, in the order they were attached.
host::FrameEyes EyesFromMeta(GstBuffer* buffer, int32_t width, int32_t height) {
  host::FrameEyes eyes;
  const GQuark eye = g_quark_from_static_string("eye");
  gpointer at = nullptr;
  while (GstMeta* meta = gst_buffer_iterate_meta_filtered(buffer, &at, GST_VIDEO_REGION_OF_INTEREST_META_API_TYPE)) {
    const auto* roi = reinterpret_cast<GstVideoRegionOfInterestMeta*>(meta);
    if (roi->roi_type != eye || eyes.eyes.size() == 2) continue;
    const double x = (roi->x + roi->w / 2.0) * 320.0 / width;
    const double y = (roi->y + roi->h / 2.0) * 240.0 / height;
    eyes.eyes.push_back(host::EyePoint{static_cast<int32_t>(x), static_cast<int32_t>(y)});
  }
  return eyes;
}

void ReportEyes(Stream& s, GstBuffer* buffer) {
  host::FrameEyes seen;
  if (s.eyes == EyesMode::kAuto && s.detector) {
    s.detector->Offer(host::BgrView{s.hostFrame.data(), s.width, s.height, int64_t{s.width} * kBytesPerPixel, true});
    seen = s.detector->Latest();
  } else if (s.eyes == EyesMode::kMeta) {
    seen = EyesFromMeta(buffer, s.width, s.height);
  }
  host::SeenEyes placed = host::SeenOf(seen);
  for (std::optional<host::EyePoint>& eye : placed) {
    if (eye) eye = host::FrameEyeToPlayer(s.stage, *eye);
  }
  for (const host::EyePoint& eye : s.reporter.Next(placed)) s.player->SetEyePosition(eye.x, eye.y);
}

// The output frame, top-down, cut from what the player presented; where the
// player's frame does not reach (the margins of fit) the input shows.
const uint8_t* CutOutput(Stream& s) {
  if (host::IsIdentity(s.stage)) return s.window->pixels().data();
  if (s.stage.fit == host::StageFit::kFit) host::FlipRows(s.hostFrame.data(), s.outFrame.data(), s.width, s.height);
  host::PlayerToFrame(s.stage, s.window->pixels().data(), s.outFrame.data());
  return s.outFrame.data();
}

int64_t SampleAt(GstClockTime time) {
  return static_cast<int64_t>(gst_util_uint64_scale_round(time, kAudioRate, GST_SECOND));
}

GstClockTime TimeOfSample(int64_t sample) {
  return gst_util_uint64_scale_round(static_cast<guint64>(sample), GST_SECOND, kAudioRate);
}

// Starts the cues asked for in this frame's render at the frame's first
// sample, and tells the application about each.
void StartCues(TikoOverlay* self, Stream& s, GstClockTime pts, int64_t sample) {
  const std::vector<host::WaveRequest>& waves = s.window->waves();
  for (; s.wavesSeen < waves.size(); ++s.wavesSeen) {
    const std::string& path = waves[s.wavesSeen].path;
    const guint64 running = gst_segment_to_running_time(&s.segment, GST_FORMAT_TIME, pts);
    GstStructure* info = gst_structure_new(kCueMessage, "wave", G_TYPE_STRING, path.c_str(), "running-time",
                                           G_TYPE_UINT64, running, "timestamp", G_TYPE_UINT64, pts, nullptr);
    gst_element_post_message(GST_ELEMENT(self), gst_message_new_element(GST_OBJECT(self), info));
    if (sample < 0) continue;
    try {
      s.cues.Start(path, sample);
    } catch (const media::MediaError& e) {
      // A package may ask for a sound its author did not ship: the pictures
      // go on, the cue stays silent.
      if (s.silentWaves.insert(path).second) {
        GST_ELEMENT_WARNING(self, RESOURCE, READ, ("Sound cue left silent: %s", e.what()), (nullptr));
      }
    }
  }
}

// Hands a buffer or a serialized event to the audio pad's thread; waits
// only while a second of sound is queued already. False when flushing (the
// item is dropped).
bool QueueAudio(AudioQueue& q, GstMiniObject* item) {
  std::unique_lock lock(q.lock);
  const int64_t frames =
      GST_IS_BUFFER(item) ? static_cast<int64_t>(gst_buffer_get_size(GST_BUFFER_CAST(item)) / kAudioFrameBytes) : 0;
  q.changed.wait(lock, [&] {
    return q.flushing || q.ended || q.queuedFrames == 0 || q.queuedFrames + frames <= kAudioQueueFrames;
  });
  if (q.flushing || q.ended) {
    lock.unlock();
    gst_mini_object_unref(item);
    return false;
  }
  q.items.push_back(item);
  q.queuedFrames += frames;
  q.changed.notify_all();
  return true;
}

void DropQueuedAudio(AudioQueue& q) {
  for (GstMiniObject* item : q.items) gst_mini_object_unref(item);
  q.items.clear();
  q.queuedFrames = 0;
}

void SetAudioFlushing(AudioQueue& q, bool flushing) {
  std::lock_guard lock(q.lock);
  q.flushing = flushing;
  q.ended = false;
  if (flushing) DropQueuedAudio(q);
  q.flow = GST_FLOW_OK;
  q.changed.notify_all();
}

// One turn of the audio pad's task: the next item downstream.
void AudioLoop(gpointer data) {
  TikoOverlay* self = Self(data);
  AudioQueue& q = self->state->audio;
  std::unique_lock lock(q.lock);
  q.changed.wait(lock, [&] { return q.flushing || !q.items.empty(); });
  if (q.flushing) {
    lock.unlock();
    gst_pad_pause_task(self->audioPad);
    return;
  }
  GstMiniObject* item = q.items.front();
  q.items.pop_front();
  if (GST_IS_BUFFER(item)) q.queuedFrames -= static_cast<int64_t>(gst_buffer_get_size(GST_BUFFER_CAST(item)) / kAudioFrameBytes);
  q.changed.notify_all();
  lock.unlock();
  GstFlowReturn flow = GST_FLOW_OK;
  if (GST_IS_BUFFER(item)) {
    flow = gst_pad_push(self->audioPad, GST_BUFFER_CAST(item));
  } else {
    const bool eos = GST_EVENT_TYPE(GST_EVENT_CAST(item)) == GST_EVENT_EOS;
    gst_pad_push_event(self->audioPad, GST_EVENT_CAST(item));
    if (eos) flow = GST_FLOW_EOS;
  }
  lock.lock();
  // Nobody listening to the sound, or its branch finished, is no reason to
  // stop the video; anything worse is passed on with the next frame.
  if (flow != GST_FLOW_OK && flow != GST_FLOW_NOT_LINKED && flow != GST_FLOW_EOS) q.flow = flow;
  if (flow == GST_FLOW_FLUSHING || flow == GST_FLOW_EOS || flow < GST_FLOW_EOS) {
    q.ended = true;
    DropQueuedAudio(q);
    q.changed.notify_all();
    lock.unlock();
    gst_pad_pause_task(self->audioPad);
  }
}

gboolean AudioActivate(GstPad* pad, GstObject* parent, GstPadMode mode, gboolean active) {
  TikoOverlay* self = Self(parent);
  if (mode != GST_PAD_MODE_PUSH) return FALSE;
  if (active) {
    SetAudioFlushing(self->state->audio, false);
    return gst_pad_start_task(pad, AudioLoop, self, nullptr);
  }
  SetAudioFlushing(self->state->audio, true);
  return gst_pad_stop_task(pad);
}

void StartAudio(TikoOverlay* self, Stream& s, GstEvent* videoStart) {
  gchar* id = gst_pad_create_stream_id(self->audioPad, GST_ELEMENT(self), "audio");
  GstEvent* start = gst_event_new_stream_start(id);
  g_free(id);
  guint group = 0;
  if (videoStart != nullptr && gst_event_parse_group_id(videoStart, &group)) gst_event_set_group_id(start, group);
  QueueAudio(self->state->audio, GST_MINI_OBJECT_CAST(start));
  GstCaps* caps = gst_pad_get_pad_template_caps(self->audioPad);
  QueueAudio(self->state->audio, GST_MINI_OBJECT_CAST(gst_event_new_caps(caps)));
  gst_caps_unref(caps);
  s.audioStarted = true;
}

// The cues' sound for the stretch of time a video frame covers, so that the
// audio pad's timestamps follow the video's.
GstFlowReturn PushAudio(TikoOverlay* self, Stream& s, int64_t from, int64_t to) {
  if (from < 0) return GST_FLOW_OK;
  if (s.audioNext < 0 || from > s.audioNext + kAudioSlackSamples || from + kAudioSlackSamples < s.audioNext) {
    s.audioNext = from;
  }
  const int64_t frames = to - s.audioNext;
  if (frames <= 0) return GST_FLOW_OK;
  if (!s.audioStarted) StartAudio(self, s, nullptr);
  GstBuffer* buffer = gst_buffer_new_allocate(nullptr, static_cast<gsize>(frames) * kAudioFrameBytes, nullptr);
  if (buffer == nullptr) throw std::bad_alloc();
  GstMapInfo map;
  gst_buffer_map(buffer, &map, GST_MAP_WRITE);
  s.cues.Pull(s.audioNext, static_cast<int32_t>(frames), reinterpret_cast<int16_t*>(map.data));
  gst_buffer_unmap(buffer, &map);
  GST_BUFFER_PTS(buffer) = TimeOfSample(s.audioNext);
  GST_BUFFER_DURATION(buffer) = TimeOfSample(to) - GST_BUFFER_PTS(buffer);
  GST_BUFFER_OFFSET(buffer) = static_cast<guint64>(s.audioNext);
  GST_BUFFER_OFFSET_END(buffer) = static_cast<guint64>(to);
  s.audioNext = to;
  QueueAudio(self->state->audio, GST_MINI_OBJECT_CAST(buffer));
  std::lock_guard lock(self->state->audio.lock);
  return self->state->audio.flow;
}

// The end of the time a frame covers: its duration, or one frame at the
// stream's rate; a stream of varying rate ends each frame's sound at its
// start, and the next frame sends it.
GstClockTime FrameEnd(GstVideoFilter* filter, GstBuffer* buffer) {
  const GstClockTime pts = GST_BUFFER_PTS(buffer);
  if (GST_BUFFER_DURATION_IS_VALID(buffer)) return pts + GST_BUFFER_DURATION(buffer);
  const GstVideoInfo& info = filter->in_info;
  if (info.fps_n > 0 && info.fps_d > 0) {
    return pts + gst_util_uint64_scale_int(GST_SECOND, info.fps_d, info.fps_n);
  }
  return pts;
}

GstFlowReturn RenderFrame(TikoOverlay* self, GstVideoFrame* frame) {
  Stream& s = self->state->stream;
  if (s.player == nullptr) {
    GST_ELEMENT_ERROR(self, CORE, NEGOTIATION, ("No frame format was agreed before the first frame"), (nullptr));
    return GST_FLOW_NOT_NEGOTIATED;
  }
  if (!FollowPackage(self, s)) return GST_FLOW_ERROR;
  PlaneView planes;
  for (guint i = 0; i < GST_VIDEO_FRAME_N_PLANES(frame) && i < 3; ++i) {
    planes.data[i] = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(frame, i));
    planes.strides[i] = GST_VIDEO_FRAME_PLANE_STRIDE(frame, i);
  }
  FrameToBgr(s.format, planes, s.width, s.height, s.hostFrame.data(), s.scratch);
  ReportEyes(s, frame->buffer);
  const uint8_t* given = s.hostFrame.data();
  if (!host::IsIdentity(s.stage)) {
    host::FrameToPlayer(s.stage, s.hostFrame.data(), s.playerFrame.data(), true);
    given = s.playerFrame.data();
  }
  s.player->Render(given, 0);
  BgrToFrame(s.format, CutOutput(s), s.width, s.height, planes, s.scratch);

  const GstClockTime pts = GST_BUFFER_PTS(frame->buffer);
  const bool timed = GST_CLOCK_TIME_IS_VALID(pts) && s.segment.format == GST_FORMAT_TIME;
  const int64_t first = timed ? SampleAt(pts) : -1;
  StartCues(self, s, pts, first);
  return timed ? PushAudio(self, s, first, SampleAt(FrameEnd(&self->parent, frame->buffer))) : GST_FLOW_OK;
}

GstFlowReturn TransformFrameIp(GstVideoFilter* filter, GstVideoFrame* frame) {
  TikoOverlay* self = Self(filter);
  try {
    return RenderFrame(self, frame);
  } catch (const std::bad_alloc&) {
    GST_ELEMENT_ERROR(self, RESOURCE, NO_SPACE_LEFT, ("Out of memory for a %dx%d frame",
                                                      self->state->stream.width, self->state->stream.height),
                      (nullptr));
  } catch (const std::exception& e) {
    GST_ELEMENT_ERROR(self, STREAM, FAILED, ("%s", e.what()), (nullptr));
  }
  return GST_FLOW_ERROR;
}

// Why the element cannot take these caps, or nothing when it can.
std::optional<std::string> CapsProblem(GstCaps* caps) {
  if (gst_caps_get_size(caps) == 0) return std::string("no format offered");
  GstCapsFeatures* features = gst_caps_get_features(caps, 0);
  if (features != nullptr && !gst_caps_features_is_any(features) &&
      !gst_caps_features_contains(features, GST_CAPS_FEATURE_MEMORY_SYSTEM_MEMORY)) {
    gchar* text = gst_caps_features_to_string(features);
    std::string why = std::string("frames in ") + text + " cannot be read; tikooverlay takes frames in system memory";
    g_free(text);
    return why;
  }
  const GstStructure* structure = gst_caps_get_structure(caps, 0);
  if (!gst_structure_has_name(structure, "video/x-raw")) {
    return std::string(gst_structure_get_name(structure)) + " is not raw video";
  }
  const gchar* format = gst_structure_get_string(structure, "format");
  if (format != nullptr && !FormatNamed(format)) {
    return std::string("format ") + format + " is not taken; tikooverlay takes " + FormatList() +
           " (put videoconvert in front for others)";
  }
  gint width = 0;
  gint height = 0;
  if ((gst_structure_get_int(structure, "width", &width) && (width < 1 || width > host::kLargestSide)) ||
      (gst_structure_get_int(structure, "height", &height) && (height < 1 || height > host::kLargestSide))) {
    return "a frame of " + std::to_string(width) + "x" + std::to_string(height) +
           " is too large for the player, which takes 1 to 65535 pixels a side";
  }
  return std::nullopt;
}

void RefuseCaps(TikoOverlay* self, GstCaps* caps, const std::string& why) {
  gchar* text = gst_caps_to_string(caps);
  GST_ELEMENT_ERROR(self, CORE, NEGOTIATION, ("tikooverlay cannot take this video: %s", why.c_str()),
                    ("offered caps: %s", text));
  g_free(text);
}

gboolean SetInfo(GstVideoFilter* filter, GstCaps* in, GstVideoInfo* info, GstCaps*, GstVideoInfo*) {
  TikoOverlay* self = Self(filter);
  Stream& s = self->state->stream;
  const std::optional<FrameFormat> format = FormatNamed(gst_video_format_to_string(GST_VIDEO_INFO_FORMAT(info)));
  if (!format) {
    RefuseCaps(self, in, CapsProblem(in).value_or("unknown format"));
    return FALSE;
  }
  const bool resized = s.player == nullptr || info->width != s.width || info->height != s.height;
  s.format = *format;
  s.width = info->width;
  s.height = info->height;
  if (!resized) return TRUE;
  GST_INFO_OBJECT(self, "opening the player for %dx%d frames", s.width, s.height);
  try {
    return OpenPlayer(self, s) ? TRUE : FALSE;
  } catch (const std::bad_alloc&) {
    GST_ELEMENT_ERROR(self, RESOURCE, NO_SPACE_LEFT, ("Out of memory for %dx%d frames", s.width, s.height),
                      (nullptr));
  }
  return FALSE;
}

gboolean SinkEvent(GstBaseTransform* trans, GstEvent* event) {
  TikoOverlay* self = Self(trans);
  Stream& s = self->state->stream;
  switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_CAPS: {
      GstCaps* caps = nullptr;
      gst_event_parse_caps(event, &caps);
      if (const std::optional<std::string> why = CapsProblem(caps)) {
        RefuseCaps(self, caps, *why);
        gst_event_unref(event);
        return FALSE;
      }
      break;
    }
    case GST_EVENT_STREAM_START:
      StartAudio(self, s, event);
      break;
    case GST_EVENT_SEGMENT: {
      const GstSegment* segment = nullptr;
      gst_event_parse_segment(event, &segment);
      gst_segment_copy_into(segment, &s.segment);
      if (!s.audioStarted) StartAudio(self, s, nullptr);
      GstEvent* audio = nullptr;
      if (segment->format == GST_FORMAT_TIME) {
        audio = gst_event_ref(event);
      } else {
        GstSegment time;
        gst_segment_init(&time, GST_FORMAT_TIME);
        audio = gst_event_new_segment(&time);
      }
      QueueAudio(self->state->audio, GST_MINI_OBJECT_CAST(audio));
      break;
    }
    case GST_EVENT_FLUSH_START:
      SetAudioFlushing(self->state->audio, true);
      gst_pad_push_event(self->audioPad, gst_event_ref(event));
      gst_pad_pause_task(self->audioPad);
      break;
    case GST_EVENT_FLUSH_STOP:
      // After a seek the sound starts again with the first frame.
      s.audioNext = -1;
      s.cues.Stop();
      if (s.detector) s.detector->Reset();
      gst_pad_push_event(self->audioPad, gst_event_ref(event));
      SetAudioFlushing(self->state->audio, false);
      gst_pad_start_task(self->audioPad, AudioLoop, self, nullptr);
      break;
    case GST_EVENT_EOS:
      if (!s.audioStarted) StartAudio(self, s, nullptr);
      QueueAudio(self->state->audio, GST_MINI_OBJECT_CAST(gst_event_ref(event)));
      break;
    default:
      break;
  }
  return GST_BASE_TRANSFORM_CLASS(tiko_overlay_parent_class)->sink_event(trans, event);
}

// Raw video of any format is let through to the caps event, which refuses
// what cannot be taken with the reason, rather than a bare "not negotiated".
gboolean AcceptCaps(GstBaseTransform* trans, GstPadDirection direction, GstCaps* caps) {
  if (direction == GST_PAD_SINK && gst_caps_is_fixed(caps) &&
      gst_structure_has_name(gst_caps_get_structure(caps, 0), "video/x-raw")) {
    return TRUE;
  }
  return GST_BASE_TRANSFORM_CLASS(tiko_overlay_parent_class)->accept_caps(trans, direction, caps);
}

gboolean Start(GstBaseTransform* trans) {
  TikoOverlay* self = Self(trans);
  Stream& s = self->state->stream;
  const Settings settings = ReadSettings(self);
  try {
    if (const std::optional<std::string> why = PackageProblem(settings.location)) {
      PostPackageError(self, *why);
      return FALSE;
    }
    s.eyes = settings.eyes;
    s.fit = settings.fit;
    if (s.eyes == EyesMode::kAuto) {
      std::string why;
      std::unique_ptr<host::EyeDetector> detector = host::EyeDetector::Create(&why);
      if (detector == nullptr) {
        GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND, ("eyes=auto cannot start the eye detector: %s", why.c_str()),
                          ("Install opencv-data, set TIKO_CASCADE_DIR, or set eyes=none or eyes=meta."));
        return FALSE;
      }
      s.detector = std::make_unique<host::EyeWorker>(
          std::move(detector), [self](const std::string& message) { GST_WARNING_OBJECT(self, "%s", message.c_str()); });
    }
  } catch (const std::exception& e) {
    GST_ELEMENT_ERROR(self, RESOURCE, FAILED, ("tikooverlay cannot start: %s", e.what()), (nullptr));
    return FALSE;
  }
  gst_segment_init(&s.segment, GST_FORMAT_TIME);
  return TRUE;
}

gboolean Stop(GstBaseTransform* trans) {
  Stream& s = Self(trans)->state->stream;
  s.player.reset();
  s.window.reset();
  s.detector.reset();
  s.cues.Stop();
  s.audioNext = -1;
  s.audioStarted = false;
  s.width = 0;
  s.height = 0;
  return TRUE;
}

// Seeks and other upstream events from the audio branch go where the video
// comes from.
gboolean AudioPadEvent(GstPad*, GstObject* parent, GstEvent* event) {
  TikoOverlay* self = Self(parent);
  switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_SEEK:
      return gst_pad_push_event(GST_BASE_TRANSFORM_SINK_PAD(self), event);
    default:
      gst_event_unref(event);
      return FALSE;
  }
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* spec) {
  TikoOverlay* self = Self(object);
  std::lock_guard lock(self->state->settingsLock);
  Settings& settings = self->state->settings;
  switch (id) {
    case kPropLocation: {
      const gchar* location = g_value_get_string(value);
      settings.location = location == nullptr ? "" : location;
      ++settings.locationVersion;
      break;
    }
    case kPropEyes:
      settings.eyes = static_cast<EyesMode>(g_value_get_enum(value));
      break;
    case kPropStage:
      settings.fit = static_cast<host::StageFit>(g_value_get_enum(value));
      break;
    case kPropWatch:
      settings.watch = g_value_get_boolean(value);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
  }
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* spec) {
  TikoOverlay* self = Self(object);
  std::lock_guard lock(self->state->settingsLock);
  const Settings& settings = self->state->settings;
  switch (id) {
    case kPropLocation:
      g_value_set_string(value, settings.location.c_str());
      break;
    case kPropEyes:
      g_value_set_enum(value, static_cast<gint>(settings.eyes));
      break;
    case kPropStage:
      g_value_set_enum(value, static_cast<gint>(settings.fit));
      break;
    case kPropWatch:
      g_value_set_boolean(value, settings.watch);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
  }
}

void Finalize(GObject* object) {
  DropQueuedAudio(Self(object)->state->audio);
  delete Self(object)->state;
  G_OBJECT_CLASS(tiko_overlay_parent_class)->finalize(object);
}

GstCaps* VideoCaps() {
  std::string formats;
  for (const char* name : {"BGR", "YUY2", "I420", "NV12", "BGRx", "RGB"}) {
    formats += std::string(formats.empty() ? "" : ", ") + name;
  }
  const std::string caps = "video/x-raw, format=(string){ " + formats +
                           " }, width=(int)[ 1, 65535 ], height=(int)[ 1, 65535 ], framerate=(fraction)[ 0/1, MAX ]";
  return gst_caps_from_string(caps.c_str());
}

}  // namespace
}  // namespace tiko::gst

static void tiko_overlay_class_init(TikoOverlayClass* klass) {
  using namespace tiko::gst;
  GST_DEBUG_CATEGORY_INIT(tiko_overlay_debug, "tikooverlay", 0, "tiko effects over video");
  GObjectClass* object = G_OBJECT_CLASS(klass);
  object->set_property = SetProperty;
  object->get_property = GetProperty;
  object->finalize = Finalize;
  const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
  const auto playing = static_cast<GParamFlags>(flags | GST_PARAM_MUTABLE_PLAYING);
  const auto ready = static_cast<GParamFlags>(flags | GST_PARAM_MUTABLE_READY);
  g_object_class_install_property(
      object, kPropLocation,
      g_param_spec_string("location", "Package",
                          "The tiko package (.tiko file) whose effects are laid over the video; set while playing, "
                          "the element switches to the new package between two frames",
                          nullptr, playing));
  g_object_class_install_property(
      object, kPropEyes,
      g_param_spec_enum("eyes", "Eyes",
                        "Where the eye actors' positions come from: auto (the eye detector, on a thread of its own "
                        "so that it never holds up a frame), none, or meta (GstVideoRegionOfInterestMeta of type "
                        "\"eye\" on each buffer: the centre of the first drives $eye1, of the second $eye2)",
                        EyesModeType(), static_cast<gint>(EyesMode::kAuto), ready));
  g_object_class_install_property(
      object, kPropStage,
      g_param_spec_enum("stage", "Stage",
                        "How the 4:3 stage meets frames of other shapes, as in tiko render: cover (the stage covers "
                        "the frame, its edges cut off), fit (inside the frame), stretch (to the frame's shape)",
                        StageFitType(), static_cast<gint>(tiko::host::StageFit::kCover), ready));
  g_object_class_install_property(
      object, kPropWatch,
      g_param_spec_boolean("watch", "Watch",
                           "Reload the package whenever its file changes (a file that does not load is warned about "
                           "and the package before it goes on)",
                           FALSE, playing));

  GstElementClass* element = GST_ELEMENT_CLASS(klass);
  gst_element_class_set_static_metadata(
      element, "tiko overlay", "Filter/Effect/Video",
      "Lays a tiko package's animated pictures over raw video, following the eyes in it; each sound cue is posted "
      "as a \"tiko-cue\" element message (wave, running-time) and mixed on the \"audio\" pad (S16LE, 48 kHz, "
      "stereo, silence between cues, timed with the video)",
      "the tiko developers");
  GstCaps* video = VideoCaps();
  gst_element_class_add_pad_template(element, gst_pad_template_new("sink", GST_PAD_SINK, GST_PAD_ALWAYS, video));
  gst_element_class_add_pad_template(element, gst_pad_template_new("src", GST_PAD_SRC, GST_PAD_ALWAYS, video));
  gst_caps_unref(video);
  GstCaps* audio = gst_caps_from_string(
      "audio/x-raw, format=(string)S16LE, rate=(int)48000, channels=(int)2, layout=(string)interleaved, "
      "channel-mask=(bitmask)0x3");
  gst_element_class_add_pad_template(element, gst_pad_template_new("audio", GST_PAD_SRC, GST_PAD_ALWAYS, audio));
  gst_caps_unref(audio);

  GstBaseTransformClass* transform = GST_BASE_TRANSFORM_CLASS(klass);
  transform->start = Start;
  transform->stop = Stop;
  transform->sink_event = SinkEvent;
  transform->accept_caps = AcceptCaps;
  transform->passthrough_on_same_caps = FALSE;
  transform->transform_ip_on_passthrough = FALSE;
  GstVideoFilterClass* filter = GST_VIDEO_FILTER_CLASS(klass);
  filter->set_info = SetInfo;
  filter->transform_frame_ip = TransformFrameIp;
}

static void tiko_overlay_init(TikoOverlay* self) {
  self->state = new State();
  gst_segment_init(&self->state->stream.segment, GST_FORMAT_TIME);
  GstPadTemplate* templ = gst_element_class_get_pad_template(GST_ELEMENT_GET_CLASS(self), "audio");
  self->audioPad = gst_pad_new_from_template(templ, "audio");
  gst_pad_use_fixed_caps(self->audioPad);
  gst_pad_set_event_function(self->audioPad, tiko::gst::AudioPadEvent);
  gst_pad_set_activatemode_function(self->audioPad, tiko::gst::AudioActivate);
  gst_element_add_pad(GST_ELEMENT(self), self->audioPad);
}
