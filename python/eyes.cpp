// tiko.EyeDetector, tiko.detect_eyes and tiko.EyeReporter: the eye
// detector every tiko host uses, and the reporter that turns the eyes seen
// on a frame into the player's eye reports, so that each eye keeps its own
// actors. Any other tracker's points go through the reporter just as well.
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "host/eyes/eye_detector.h"
#include "host/eyes/eye_reports.h"
#include "python/arrays.h"
#include "python/module.h"

namespace tiko::python {
namespace {

namespace fs = std::filesystem;

constexpr int32_t kChannels = 3;
constexpr size_t kEyes = 2;

using Point = std::pair<int32_t, int32_t>;

struct Detector {
  std::unique_ptr<host::EyeDetector> detector;
  std::mutex busy;
};

std::unique_ptr<Detector> CreateDetector(const std::optional<fs::path>& cascadeDir) {
  auto d = std::make_unique<Detector>();
  std::string why;
  d->detector = host::EyeDetector::Create(&why, cascadeDir ? cascadeDir->string() : "");
  if (!d->detector) throw Failure(why);
  return d;
}

std::vector<Point> Points(const host::EyeResult& result) {
  std::vector<Point> points;
  for (int32_t i = 0; i < result.count; ++i) points.emplace_back(result.eyes[i].x, result.eyes[i].y);
  return points;
}

// The eyes on one top-down frame; `forget` starts a new stream first.
std::vector<Point> Feed(Detector& d, const py::object& frame, bool rgb, bool forget) {
  const py::array_t<uint8_t> pixels = PixelArray(frame, "frame", {kAnySide, kAnySide, kChannels});
  const auto width = static_cast<int32_t>(std::min<py::ssize_t>(pixels.shape(1), INT32_MAX));
  const auto height = static_cast<int32_t>(std::min<py::ssize_t>(pixels.shape(0), INT32_MAX));
  std::vector<uint8_t> bgr;
  const uint8_t* data = pixels.data();
  py::gil_scoped_release unlocked;
  if (rgb) {
    bgr.resize(size_t(pixels.size()));
    CopyPixels(data, bgr.data(), width, height, false, true);
    data = bgr.data();
  }
  std::lock_guard<std::mutex> hold(d.busy);
  if (forget) d.detector->Reset();
  return Points(d.detector->Feed(host::BgrView{data, width, height, int64_t{width} * kChannels, false}));
}

// One picture by itself: a detector kept for these calls, its history
// forgotten every time.
std::vector<Point> DetectEyes(const py::object& frame, bool rgb) {
  static Detector* shared = nullptr;  // kept to the end, as the cascades are
  if (shared == nullptr) shared = CreateDetector(std::nullopt).release();
  return Feed(*shared, frame, rgb, true);
}

std::optional<host::EyePoint> SeenEye(py::handle eye, size_t index) {
  if (eye.is_none()) return std::nullopt;
  const std::string what = "eyes[" + std::to_string(index) + "]";
  try {
    const auto [x, y] = eye.cast<Point>();
    return host::EyePoint{x, y};
  } catch (const py::cast_error&) {
    throw py::type_error(what + ": expected an (x, y) pair of 32-bit integers or None");
  }
}

std::vector<Point> Next(host::EyeReporter& reporter, const py::sequence& eyes) {
  if (eyes.size() > kEyes) {
    throw py::value_error("eyes: expected at most two eyes, not " + std::to_string(eyes.size()));
  }
  host::SeenEyes seen;
  for (size_t i = 0; i < eyes.size(); ++i) seen[i] = SeenEye(eyes[i], i);
  std::vector<Point> reports;
  for (const host::EyePoint& p : reporter.Next(seen)) reports.emplace_back(p.x, p.y);
  return reports;
}

}  // namespace

void AddEyes(py::module_& m) {
  py::class_<Detector>(m, "EyeDetector", R"(Finds the eyes in video frames, smoothed over the frames of a stream.

EyeDetector(cascade_dir=None): cascade_dir is the folder holding OpenCV's
haarcascades/ and lbpcascades/ (default: $TIKO_CASCADE_DIR, then
/usr/share/opencv4 and the like). Raises tiko.Error when they cannot be loaded.)")
      .def(py::init(&CreateDetector), py::arg("cascade_dir") = py::none())
      .def(
          "feed",
          [](Detector& d, const py::object& frame, bool rgb) { return Feed(d, frame, rgb, false); },
          py::arg("frame"), py::arg("rgb") = false,
          "The eyes on the next frame of the stream (a (height, width, 3) uint8 array, top-down), as (x, y) points "
          "of the 320 x 240 eye space, the one on the picture's left first; at most two.")
      .def(
          "reset", [](Detector& d) { d.detector->Reset(); }, "Forgets the frames seen so far, as for a new stream.");
  m.def("detect_eyes", &DetectEyes, py::arg("frame"), py::arg("rgb") = false,
        "The eyes on one picture by itself, as EyeDetector.feed gives them for the first frame of a stream.");

  py::class_<host::EyeReporter>(m, "EyeReporter", R"(Turns the eyes seen on each frame into the player's eye reports.

Before each render: for x, y in reporter.next(eyes): player.set_eye(x, y)
and render exactly once, on frames without eyes too. Send the player no
other reports.)")
      .def(py::init<>())
      .def("next", &Next, py::arg("eyes"),
           "The (x, y) reports to send, in order, for the eyes seen on this frame: a sequence of at most two items, "
           "each an (x, y) point or None for an eye not seen; the first drives the $eye1 actors, the second $eye2.")
      .def("package_changed", &host::EyeReporter::PackageChanged,
           "Call after every Player.change_package, whether the package loaded or not.")
      .def("reset", &host::EyeReporter::Reset, "Starts over, for a new player.");
}

}  // namespace tiko::python
