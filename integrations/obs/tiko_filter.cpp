#include "tiko_filter.h"

#include <obs-module.h>
#include <util/platform.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "cue_feed.h"
#include "frame_pixels.h"
#include "host/eyes/eye_file.h"
#include "host/eyes/eye_reports.h"
#include "host/eyes/eye_worker.h"
#include "host/memory_window.h"
#include "host/paths.h"
#include "host/player_ptr.h"
#include "host/stage.h"
#include "tiko/tiko.h"

namespace tiko::obs {
namespace {

constexpr const char* kPackageKey = "package";
constexpr const char* kEyesKey = "eyes";
constexpr const char* kStageKey = "stage";
constexpr const char* kCueSourceKey = "cue_source";
constexpr const char* kRestartKey = "restart";
constexpr const char* kEyesAuto = "auto";
constexpr const char* kEyesNone = "none";
constexpr const char* kDefaultCueSource = "tiko cue sounds";
constexpr uint64_t kSecond = 1000000000ull;
// How often the package file is looked at for changes: a stat a second.
constexpr uint64_t kPollInterval = kSecond;
constexpr size_t kBytesPerPixel = 3;

using host::PlayerPtr;

// What the properties say; written by OBS's settings thread, read by the
// video thread at its next frame.
struct Settings {
  std::string package;
  bool eyes = true;
  host::StageFit fit = host::StageFit::kCover;
  std::string cueSource;
  uint64_t restarts = 0;  // presses of the restart button
};

// Which version of the package file the player holds: a file edited in
// place, or replaced by another, changes at least one of these.
struct FileStamp {
  bool exists = false;
  int64_t modified = 0;
  int64_t size = 0;
  uint64_t inode = 0;
  bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return FileStamp{};
  return FileStamp{true, int64_t{st.st_mtim.tv_sec} * int64_t{kSecond} + st.st_mtim.tv_nsec, int64_t{st.st_size},
                   uint64_t{st.st_ino}};
}

// The player and what goes with it, used by the video thread only.
struct Session {
  Settings applied;
  bool haveSettings = false;
  PlayerPtr player;
  std::unique_ptr<host::MemoryWindow> window;
  host::StageLayout stage;
  FileStamp stamp;         // of the package the player holds, or tried
  uint64_t nextPoll = 0;
  size_t wavesSeen = 0;
  host::EyeReporter reporter;
  std::unique_ptr<host::EyeWorker> eyes;
  CueFeed cues;
  video_format unconvertible = VIDEO_FORMAT_NONE;  // warned about
  // Frame buffers, kept between frames.
  std::vector<uint8_t> before;  // the frame as it came, top-down
  std::vector<uint8_t> after;   // the frame with the effects, top-down
  std::vector<uint8_t> input;   // the player's frame, bottom-up
  std::vector<uint8_t> turned;  // the player's frame, top-down (cover, fit)
};

struct Filter {
  obs_source_t* context = nullptr;
  std::mutex settingsMutex;
  Settings settings;
  // Held by the video thread through each frame, and by destroy, which OBS
  // may call from another thread.
  std::mutex videoMutex;
  Session session;
};

host::StageFit FitOf(const char* text) {
  if (text != nullptr && std::strcmp(text, "fit") == 0) return host::StageFit::kFit;
  if (text != nullptr && std::strcmp(text, "stretch") == 0) return host::StageFit::kStretch;
  return host::StageFit::kCover;
}

std::string Text(obs_data_t* data, const char* key) {
  const char* value = obs_data_get_string(data, key);
  return value == nullptr ? std::string() : std::string(value);
}

void CloseSession(Session& s) {
  s.player.reset();
  s.window.reset();
  s.wavesSeen = 0;
  s.cues.Stop();
}

// Opens a player for frames of width x height with the package, or leaves
// none with a warning in the log: the frames then pass unchanged.
void OpenSession(Filter& f, int32_t width, int32_t height) {
  Session& s = f.session;
  CloseSession(s);
  s.stamp = StampOf(s.applied.package);
  const char* name = obs_source_get_name(f.context);
  const std::string& package = s.applied.package;
  if (std::FILE* probe = std::fopen(package.c_str(), "rb")) {
    std::fclose(probe);
  } else {
    blog(LOG_WARNING, "[tiko-obs] '%s': cannot open package %s: %s; the picture stays as it is", name,
         package.c_str(), std::strerror(errno));
    return;
  }
  const std::optional<std::u16string> path = host::Utf8ToUtf16(package);
  if (!path) {
    blog(LOG_WARNING, "[tiko-obs] '%s': cannot open package %s: the name is not UTF-8", name, package.c_str());
    return;
  }
  s.stage = host::LayOutStage(width, height, s.applied.fit);
  s.window = std::make_unique<host::MemoryWindow>(s.stage.playerWidth, s.stage.playerHeight);
  PlayerPtr player(TikoGetInterface());
  if (!player) throw std::bad_alloc();
  if (player->OpenSized(s.window.get(), path->c_str(), nullptr, s.stage.playerWidth, s.stage.playerHeight) == 0) {
    const bool invalid = TikoGetLastError() == TIKO_STATUS_UNSUCCESSFUL;
    blog(LOG_WARNING, "[tiko-obs] '%s': cannot load package %s: %s; the picture stays as it is", name,
         package.c_str(), invalid ? "not a valid package file" : "the player could not start");
    player.reset();  // before the window it was opened on
    s.window.reset();
    return;
  }
  blog(LOG_INFO, "[tiko-obs] '%s': playing %s on %dx%d frames (player %dx%d)", name, package.c_str(), width, height,
       s.stage.playerWidth, s.stage.playerHeight);
  s.player = std::move(player);
  s.reporter.Reset();
}

// Takes the settings the properties left, and opens, reopens or closes the
// player as they and the frame ask.
void Prepare(Filter& f, const obs_source_frame& frame, uint64_t now) {
  Session& s = f.session;
  Settings wanted;
  {
    std::lock_guard<std::mutex> lock(f.settingsMutex);
    wanted = f.settings;
  }
  const bool first = !s.haveSettings;
  bool reopen = first || wanted.package != s.applied.package || wanted.fit != s.applied.fit ||
                wanted.restarts != s.applied.restarts;
  s.applied = wanted;
  s.haveSettings = true;
  s.cues.SetTarget(wanted.cueSource);
  if (wanted.eyes && !s.eyes) {
    s.eyes = std::make_unique<host::EyeWorker>(
        [](std::string* why) { return host::EyeDetector::Create(why); },
        [](const std::string& message) { blog(LOG_WARNING, "[tiko-obs] %s", message.c_str()); });
  }
  if (!wanted.eyes) s.eyes.reset();
  if (wanted.package.empty()) {
    CloseSession(s);
    return;
  }
  const int32_t width = static_cast<int32_t>(frame.width);
  const int32_t height = static_cast<int32_t>(frame.height);
  if (s.player && (s.stage.frameWidth != width || s.stage.frameHeight != height)) reopen = true;
  if (!reopen && now >= s.nextPoll) {
    // The package file changed on disk (an author saving it again), or a
    // package that failed may load now.
    s.nextPoll = now + kPollInterval;
    if (!(StampOf(wanted.package) == s.stamp)) reopen = true;
  }
  if (!reopen) return;
  s.nextPoll = now + kPollInterval;
  OpenSession(f, width, height);
}

// The eyes seen lately, as reports for the player, in its eye space.
void ReportEyes(Session& s) {
  host::FrameEyes eyes;
  if (s.eyes) {
    s.eyes->Offer(host::BgrView{s.before.data(), s.stage.frameWidth, s.stage.frameHeight,
                                static_cast<int64_t>(size_t(s.stage.frameWidth) * kBytesPerPixel), false});
    eyes = s.eyes->Latest();
  }
  host::SeenEyes seen = host::SeenOf(eyes);
  for (std::optional<host::EyePoint>& eye : seen) {
    if (eye) eye = host::FrameEyeToPlayer(s.stage, *eye);
  }
  for (const host::EyePoint& eye : s.reporter.Next(seen)) s.player->SetEyePosition(eye.x, eye.y);
}

// One frame through the player: the frame as BGR, into the player's frame,
// rendered, and what the window shows laid back over the frame.
void RenderFrame(Session& s, obs_source_frame& frame) {
  const host::StageLayout& stage = s.stage;
  const size_t playerBytes = size_t(stage.playerWidth) * stage.playerHeight * kBytesPerPixel;
  s.input.resize(playerBytes);
  if (host::IsIdentity(stage)) {
    host::FlipRows(s.before.data(), s.input.data(), stage.frameWidth, stage.frameHeight);
  } else {
    s.turned.resize(playerBytes);
    host::FrameToPlayer(stage, s.before.data(), s.turned.data(), false);
    host::FlipRows(s.turned.data(), s.input.data(), stage.playerWidth, stage.playerHeight);
  }
  ReportEyes(s);
  s.player->Render(s.input.data(), 0);
  const std::vector<uint8_t>& shown = s.window->pixels();
  if (host::IsIdentity(stage)) {
    s.after.assign(shown.begin(), shown.end());
  } else {
    // What the player's frame leaves of the frame (the margins of fit)
    // shows the frame as it came.
    s.after.assign(s.before.begin(), s.before.end());
    host::PlayerToFrame(stage, shown.data(), s.after.data());
  }
  WriteFrame(frame, s.before, s.after);
}

void FeedCues(Session& s, uint64_t timestamp) {
  // The time OBS shows this frame; the frame's own timestamp before video
  // has started.
  const uint64_t shownAt = obs_get_video_frame_time();
  s.cues.Frame(shownAt != 0 ? shownAt : timestamp, obs_get_frame_interval_ns());
  const std::vector<host::WaveRequest>& waves = s.window->waves();
  for (; s.wavesSeen < waves.size(); ++s.wavesSeen) s.cues.Cue(waves[s.wavesSeen].path);
  s.cues.Flush();
}

obs_source_frame* FilterVideo(void* data, obs_source_frame* frame) {
  auto* f = static_cast<Filter*>(data);
  std::lock_guard<std::mutex> lock(f->videoMutex);
  Session& s = f->session;
  try {
    Prepare(*f, *frame, os_gettime_ns());
    if (!s.player) return frame;
    if (!CanConvert(frame->format)) {
      if (s.unconvertible != frame->format) {
        blog(LOG_WARNING, "[tiko-obs] '%s': frames in %s are passed on without effects",
             obs_source_get_name(f->context), get_video_format_name(frame->format));
        s.unconvertible = frame->format;
      }
      return frame;
    }
    if (!ReadFrame(*frame, s.before)) return frame;
    RenderFrame(s, *frame);
    FeedCues(s, frame->timestamp);
  } catch (const std::exception& e) {
    // Out of memory, or no thread for the detector: the frame goes on as it
    // is, and the next one starts afresh.
    blog(LOG_WARNING, "[tiko-obs] '%s': a frame passed without effects: %s", obs_source_get_name(f->context),
         e.what());
    CloseSession(s);
    s.eyes.reset();
    s.haveSettings = false;
  }
  return frame;
}

void Update(void* data, obs_data_t* settings) {
  auto* f = static_cast<Filter*>(data);
  try {
    Settings next;
    next.package = Text(settings, kPackageKey);
    next.eyes = Text(settings, kEyesKey) != kEyesNone;
    next.fit = FitOf(obs_data_get_string(settings, kStageKey));
    next.cueSource = Text(settings, kCueSourceKey);
    std::lock_guard<std::mutex> lock(f->settingsMutex);
    next.restarts = f->settings.restarts;
    f->settings = std::move(next);
  } catch (const std::bad_alloc&) {
    blog(LOG_WARNING, "[tiko-obs] '%s': out of memory, the settings stay as they were",
         obs_source_get_name(f->context));
  }
}

void* Create(obs_data_t* settings, obs_source_t* context) {
  auto* f = new (std::nothrow) Filter;
  if (f == nullptr) return nullptr;
  f->context = context;
  Update(f, settings);
  return f;
}

void Destroy(void* data) {
  auto* f = static_cast<Filter*>(data);
  {
    // A frame still in the filter finishes first.
    std::lock_guard<std::mutex> lock(f->videoMutex);
    CloseSession(f->session);
    f->session.eyes.reset();
  }
  delete f;
}

void Defaults(obs_data_t* settings) {
  obs_data_set_default_string(settings, kPackageKey, "");
  obs_data_set_default_string(settings, kEyesKey, kEyesAuto);
  obs_data_set_default_string(settings, kStageKey, "cover");
  obs_data_set_default_string(settings, kCueSourceKey, kDefaultCueSource);
}

bool Restart(obs_properties_t*, obs_property_t*, void* data) {
  auto* f = static_cast<Filter*>(data);
  std::lock_guard<std::mutex> lock(f->settingsMutex);
  ++f->settings.restarts;
  return false;  // the properties stay as they are
}

bool ListCueSource(void* list, obs_source_t* source) {
  if (std::strcmp(obs_source_get_id(source), kCueSourceId) == 0) {
    const char* name = obs_source_get_name(source);
    obs_property_list_add_string(static_cast<obs_property_t*>(list), name, name);
  }
  return true;
}

// The folder of the package now chosen, where the file picker opens.
std::string PackageFolder(void* data) {
  if (data == nullptr) return {};
  auto* f = static_cast<Filter*>(data);
  try {
    std::lock_guard<std::mutex> lock(f->settingsMutex);
    const size_t slash = f->settings.package.rfind('/');
    return slash == std::string::npos ? std::string() : f->settings.package.substr(0, slash);
  } catch (const std::bad_alloc&) {
    return {};
  }
}

obs_properties_t* Properties(void* data) {
  obs_properties_t* props = obs_properties_create();
  const std::string folder = PackageFolder(data);
  obs_properties_add_path(props, kPackageKey, obs_module_text("Package"), OBS_PATH_FILE,
                          obs_module_text("PackageFilter"), folder.empty() ? nullptr : folder.c_str());
  obs_property_t* eyes =
      obs_properties_add_list(props, kEyesKey, obs_module_text("Eyes"), OBS_COMBO_TYPE_LIST, OBS_COMBO_FORMAT_STRING);
  obs_property_list_add_string(eyes, obs_module_text("Eyes.Auto"), kEyesAuto);
  obs_property_list_add_string(eyes, obs_module_text("Eyes.None"), kEyesNone);
  obs_property_t* stage = obs_properties_add_list(props, kStageKey, obs_module_text("Stage"), OBS_COMBO_TYPE_LIST,
                                                  OBS_COMBO_FORMAT_STRING);
  obs_property_list_add_string(stage, obs_module_text("Stage.Cover"), "cover");
  obs_property_list_add_string(stage, obs_module_text("Stage.Fit"), "fit");
  obs_property_list_add_string(stage, obs_module_text("Stage.Stretch"), "stretch");
  obs_property_t* cues = obs_properties_add_list(props, kCueSourceKey, obs_module_text("CueSource"),
                                                 OBS_COMBO_TYPE_EDITABLE, OBS_COMBO_FORMAT_STRING);
  obs_enum_sources(ListCueSource, cues);
  obs_properties_add_button2(props, kRestartKey, obs_module_text("Restart"), Restart, data);
  return props;
}

const char* Name(void*) { return obs_module_text("TikoEffects"); }

}  // namespace

void RegisterFilter() {
  obs_source_info info{};
  info.id = kFilterId;
  info.type = OBS_SOURCE_TYPE_FILTER;
  info.output_flags = OBS_SOURCE_ASYNC_VIDEO;
  info.get_name = Name;
  info.create = Create;
  info.destroy = Destroy;
  info.update = Update;
  info.get_defaults = Defaults;
  info.get_properties = Properties;
  info.filter_video = FilterVideo;
  obs_register_source(&info);
}

}  // namespace tiko::obs
