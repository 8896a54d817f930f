// tiko.Player: the library's player, driven through its public interface
// with a headless window of its own, as every tiko host drives it. Frames
// come in and go out top-down (NumPy's and OpenCV's rows); the player's are
// bottom-up, so they are turned over here, at the boundary. What render()
// gives back is the window's picture of what the player presented, byte for
// byte.
//
// The interpreter lock is let go while the player works, so players on
// separate threads render at once; calls on one player are taken one at a
// time, as the library wants them.
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/frame_format.h"
#include "host/image_bitmap.h"
#include "host/memory_window.h"
#include "host/paths.h"
#include "host/player_ptr.h"
#include "python/arrays.h"
#include "python/module.h"
#include "tiko/tiko.h"

namespace tiko::python {
namespace {

namespace fs = std::filesystem;

// The player halves frames only at its own default size.
constexpr int32_t kHalvedWidth = host::kPlayerFrameWidth;
constexpr int32_t kHalvedHeight = host::kPlayerFrameHeight;
using host::kBytesPerPixel;

using host::PlayerPtr;

struct Player {
  PlayerPtr player;  // null once closed
  std::unique_ptr<host::MemoryWindow> window;
  int32_t width = 0;
  int32_t height = 0;
  bool rgb = false;  // the channel order of frames when a call does not say
  std::vector<std::string> cues;  // the waves the last render started
  size_t wavesSeen = 0;
  bool onStage = false;
  std::vector<uint8_t> frame;  // the frame handed over, bottom-up BGR
  std::mutex busy;             // one call at a time
};

// A path as the player takes it.
std::u16string PlayerPath(const fs::path& path) {
  std::optional<std::u16string> wide = host::Utf8ToUtf16(path.string());
  if (!wide) throw py::value_error("package: the path " + path.string() + " is not UTF-8");
  return *wide;
}

// Why the player could not load `path`, in words: the system's reason when
// the file cannot be read, else that it is no package the player takes.
std::string LoadFailure(const fs::path& path) {
  std::string why = "not a package the player accepts";
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    std::fclose(file);
  } else {
    why = std::strerror(errno);
  }
  return "the package could not be loaded: " + path.string() + " (" + why + ")";
}

void CheckOpen(const Player& p) {
  if (!p.player) throw py::value_error("the player is closed");
}

// Runs `work` on the player without the interpreter lock, when no other
// call is on it.
template <typename Work>
auto Locked(Player& p, Work&& work) {
  py::gil_scoped_release unlocked;
  std::lock_guard<std::mutex> hold(p.busy);
  return work();
}

std::unique_ptr<Player> OpenPlayer(const fs::path& package, std::pair<int64_t, int64_t> size,
                                   const py::object& background, bool rgb) {
  const auto [width, height] = size;
  if (width < 1 || width > host::kLargestSide || height < 1 || height > host::kLargestSide) {
    throw py::value_error("size: the player takes frames of 1 to 65535 pixels a side, not " +
                          std::to_string(width) + " x " + std::to_string(height));
  }
  auto p = std::make_unique<Player>();
  p->width = static_cast<int32_t>(width);
  p->height = static_cast<int32_t>(height);
  p->rgb = rgb;
  const std::u16string path = PlayerPath(package);
  // The bitmap takes top-down BGR rows.
  std::vector<uint8_t> picture;
  if (!background.is_none()) {
    const py::array_t<uint8_t> pixels = PixelArray(background, "background", {height, width, kBytesPerPixel});
    picture.resize(size_t(width) * size_t(height) * kBytesPerPixel);
    CopyPixels(pixels.data(), picture.data(), p->width, p->height, false, rgb);
  }
  const bool opened = Locked(*p, [&] {
    p->player.reset(TikoGetInterface());
    if (!p->player) throw std::bad_alloc();
    p->window = std::make_unique<host::MemoryWindow>(p->width, p->height);
    std::optional<host::ImageBitmap> bitmap;
    if (!picture.empty()) bitmap.emplace(picture.data(), p->width, p->height);
    if (p->player->OpenSized(p->window.get(), path.c_str(), bitmap ? &*bitmap : nullptr, p->width, p->height) != 0) {
      return true;
    }
    return false;
  });
  if (!opened) {
    const bool unloadable = TikoGetLastError() == TIKO_STATUS_UNSUCCESSFUL;
    p->player.reset();
    if (unloadable) throw Failure(LoadFailure(package));
    throw Failure("the player could not be opened at " + std::to_string(width) + " x " + std::to_string(height));
  }
  return p;
}

py::array_t<uint8_t> Render(Player& p, const py::object& frame, bool halve, std::optional<bool> rgbAsked) {
  CheckOpen(p);
  const bool rgb = rgbAsked.value_or(p.rgb);
  if (halve && (p.width != kHalvedWidth || p.height != kHalvedHeight)) {
    throw py::value_error("halve: the player halves frames only at 320 x 240, not at " + std::to_string(p.width) +
                          " x " + std::to_string(p.height));
  }
  if (halve && frame.is_none()) throw py::value_error("halve: there is no frame to halve");
  const int32_t inWidth = halve ? 2 * kHalvedWidth : p.width;
  const int32_t inHeight = halve ? 2 * kHalvedHeight : p.height;
  std::optional<py::array_t<uint8_t>> pixels;
  if (!frame.is_none()) pixels = PixelArray(frame, "frame", {inHeight, inWidth, kBytesPerPixel});
  py::array_t<uint8_t> out = NewPixels(p.height, p.width, kBytesPerPixel);
  uint8_t* shown = out.mutable_data();
  const uint8_t* given = pixels ? pixels->data() : nullptr;
  Locked(p, [&] {
    // Checked again: another thread may have closed it meanwhile.
    if (!p.player) return;
    const uint8_t* hostFrame = nullptr;
    if (given != nullptr) {
      p.frame.resize(size_t(inWidth) * size_t(inHeight) * kBytesPerPixel);
      CopyPixels(given, p.frame.data(), inWidth, inHeight, true, rgb);
      hostFrame = p.frame.data();
    }
    p.onStage = (hostFrame != nullptr ? p.player->Render(hostFrame, halve ? 1 : 0) : p.player->RenderBackground()) != 0;
    CopyPixels(p.window->pixels().data(), shown, p.width, p.height, false, rgb);
    const std::vector<host::WaveRequest>& waves = p.window->waves();
    p.cues.clear();
    for (; p.wavesSeen < waves.size(); ++p.wavesSeen) p.cues.push_back(waves[p.wavesSeen].path);
  });
  CheckOpen(p);
  return out;
}

void SetEye(Player& p, int32_t x, int32_t y) {
  CheckOpen(p);
  Locked(p, [&] {
    if (p.player) p.player->SetEyePosition(x, y);
  });
}

void ChangePackage(Player& p, const fs::path& package) {
  CheckOpen(p);
  const std::u16string path = PlayerPath(package);
  const bool loaded = Locked(p, [&] { return p.player && p.player->ChangePackage(path.c_str()) != 0; });
  CheckOpen(p);
  if (!loaded) throw Failure(LoadFailure(package) + "; the player goes on without a package");
}

void Close(Player& p) {
  Locked(p, [&] { p.player.reset(); });
}

std::vector<std::string> Cues(Player& p) {
  std::lock_guard<std::mutex> hold(p.busy);
  return p.cues;
}

}  // namespace

void AddPlayer(py::module_& m) {
  py::class_<Player>(m, "Player", R"(A player of one package over video frames.

Player(package, size=(320, 240), background=None, rgb=False)

package: the package file. size: the frames' width and height in pixels
(1 to 65535 each; the stage is 4:3, other shapes stretch it). background:
the picture render() shows without a frame, an array of the frames' shape.
rgb: frames and the background in RGB order rather than BGR (OpenCV's).)")
      .def(py::init(&OpenPlayer), py::arg("package"), py::arg("size") = std::pair<int64_t, int64_t>{320, 240},
           py::arg("background") = py::none(), py::arg("rgb") = false)
      .def("render", &Render, py::arg("frame") = py::none(), py::arg("halve") = false, py::arg("rgb") = py::none(),
           R"(Renders one frame and gives what the player presented, a new (height, width, 3) uint8 array.

frame: a (height, width, 3) uint8 array, rows top-down; None renders over
the background. halve: the frame is 640 x 480 and the player, at 320 x 240,
halves it. rgb: the frame and the result in RGB order (default: the
player's).)")
      .def("set_eye", &SetEye, py::arg("x"), py::arg("y"),
           "Reports one eye at (x, y) of the 320 x 240 eye space, row 0 at the top; a negative coordinate hides its "
           "actors.")
      .def("change_package", &ChangePackage, py::arg("package"),
           "Loads another package; the eye positions stay. Raises tiko.Error when it cannot be loaded: the player "
           "then renders the bare frames until another one loads.")
      .def("close", &Close, "Releases the player; later calls raise ValueError. Closing twice does nothing.")
      .def("__enter__", [](Player& p) -> Player& { return p; })
      .def("__exit__", [](Player& p, const py::args&) { Close(p); })
      .def_property_readonly("size", [](const Player& p) { return std::make_pair(p.width, p.height); },
                             "The frames' (width, height).")
      .def_property_readonly("cues", &Cues, "The wave files the last render started, in order.")
      .def_property_readonly("on_stage", [](Player& p) {
            std::lock_guard<std::mutex> hold(p.busy);
            return p.onStage;
          },
                             "Whether an actor was on stage in the last render.")
      .def_property_readonly("closed", [](const Player& p) { return !p.player; });
}

}  // namespace tiko::python
