#include "host/eyes/eye_detector.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include "host/frame_format.h"

namespace tiko::host {
namespace {

constexpr const char* kFaceCascade = "lbpcascades/lbpcascade_frontalface_improved.xml";
constexpr const char* kEyeCascade = "haarcascades/haarcascade_eye.xml";
constexpr const char* kCascadeDirVariable = "TIKO_CASCADE_DIR";
constexpr const char* kCascadeDirs[] = {"/usr/share/opencv4", "/usr/local/share/opencv4", "/usr/share/opencv",
                                        "/usr/local/share/opencv"};

// Wider frames are scaled down first: the cascades find the faces that matter
// at this width, and their cost grows with the area.
constexpr int kWorkWidth = 320;

// The LBP face cascade is as accurate as the Haar one at less than half the
// time. Of several faces, the one with the most neighbours is the real one far
// more often than the biggest, which is often a false face on clothing.
constexpr double kFaceScaleStep = 1.1;
constexpr int kFaceMinNeighbours = 5;
constexpr int kFaceMinSize = 40;
// While a face is followed, the next frame is searched only near it and at
// sizes close to its own, which costs a fraction of a whole search; every
// kFullSearchInterval frames, and whenever the face is not found there, the
// whole frame is searched again.
constexpr double kNearMargin = 0.5;     // of the face's size, on every side
constexpr double kNearSmallest = 0.75;  // of the face's size
constexpr double kNearLargest = 1.33;
constexpr int kFullSearchInterval = 15;

// Eyes are looked for in the upper part of the face box, at sizes between
// these fractions of the box's width.
constexpr double kEyeBandHeight = 0.6;
constexpr int kEyeMinSizeDivisor = 8;
constexpr int kEyeMaxSizeDivisor = 2;
constexpr double kEyeScaleStep = 1.1;
constexpr int kEyeMinNeighbours = 3;

// Where this face cascade's box puts the eyes, as fractions of its size, for
// an eye the eye cascade does not find (closed, in shadow, behind glasses).
// Its box is tight: it starts at the eyebrows and spans the eyes' corners.
constexpr double kFallbackLeftX = 0.20;
constexpr double kFallbackRightX = 0.79;
constexpr double kFallbackY = 0.21;

// Smoothing: each frame moves the reported eye a share of the way to what it
// shows, small when the eye seems to stand still (the cascades wobble by a
// few pixels from frame to frame) and growing with its speed, so that a
// moving face is followed without lag. A jump farther than kSnapDistance
// (eye-space pixels) is a new face and is taken at once.
constexpr double kStillShare = 0.25;
constexpr double kSharePerSpeed = 0.25;  // per eye-space pixel a frame
constexpr double kSpeedShare = 0.5;      // how fast the speed estimate follows
constexpr double kSnapDistance = 32;
// The reported position moves only once the smoothed one is this far from it,
// so a still face gives a still position.
constexpr double kDeadBand = 1.0;
// Frames without a face that keep the last eyes, so a missed frame or two
// does not make the actors blink.
constexpr int kHoldFrames = 6;

struct Point {
  double x = 0;
  double y = 0;
};

// One eye's track: the smoothed position, its speed, and what was reported.
struct EyeTrack {
  Point smoothed;
  Point speed;
  EyePoint reported;
};

// What one frame shows, in the eye space.
struct Sighting {
  Point eyes[2];
  int32_t fromCascade = 0;
};

std::optional<std::string> FindCascadeDir(const std::string& requested) {
  std::vector<std::string> candidates;
  if (!requested.empty()) {
    candidates.push_back(requested);
  } else {
    if (const char* fromEnv = std::getenv(kCascadeDirVariable); fromEnv != nullptr && *fromEnv != 0) {
      candidates.emplace_back(fromEnv);
    }
    for (const char* dir : kCascadeDirs) candidates.emplace_back(dir);
  }
  for (const std::string& dir : candidates) {
    std::error_code ignored;
    if (std::filesystem::exists(dir + "/" + kFaceCascade, ignored) &&
        std::filesystem::exists(dir + "/" + kEyeCascade, ignored)) {
      return dir;
    }
  }
  return std::nullopt;
}

// The picture the cascades look at: grey, top-down, no wider than the work
// width, its contrast stretched so that dim and bright faces look alike.
cv::Mat WorkPicture(const BgrView& frame) {
  const cv::Mat bgr(frame.height, frame.width, CV_8UC3, const_cast<uint8_t*>(frame.pixels),
                    static_cast<size_t>(frame.rowBytes));
  cv::Mat gray;
  cv::cvtColor(bgr, gray, cv::COLOR_BGR2GRAY);
  if (frame.width > kWorkWidth) {
    const int height =
        std::max(1, static_cast<int>(std::lround(static_cast<double>(frame.height) * kWorkWidth / frame.width)));
    cv::Mat smaller;
    cv::resize(gray, smaller, cv::Size(kWorkWidth, height), 0, 0, cv::INTER_AREA);
    gray = smaller;
  }
  if (frame.bottomUp) cv::flip(gray, gray, 0);
  cv::equalizeHist(gray, gray);
  return gray;
}

// The face with the most neighbours in `area` of the work picture, between
// the given sizes.
std::optional<cv::Rect> FindFaceIn(cv::CascadeClassifier& cascade, const cv::Mat& gray, const cv::Rect& area,
                                   int smallest, int largest) {
  std::vector<cv::Rect> faces;
  std::vector<int> neighbours;
  cascade.detectMultiScale(gray(area), faces, neighbours, kFaceScaleStep, kFaceMinNeighbours, 0,
                           cv::Size(smallest, smallest), cv::Size(largest, largest));
  if (faces.empty()) return std::nullopt;
  size_t best = 0;
  for (size_t i = 1; i < faces.size(); ++i) {
    if (neighbours[i] > neighbours[best]) best = i;
  }
  return faces[best] + area.tl();
}

std::optional<cv::Rect> FindFace(cv::CascadeClassifier& cascade, const cv::Mat& gray,
                                 const std::optional<cv::Rect>& near) {
  const cv::Rect whole(0, 0, gray.cols, gray.rows);
  if (near) {
    const int margin = static_cast<int>(near->width * kNearMargin);
    const cv::Rect area =
        cv::Rect(near->x - margin, near->y - margin, near->width + 2 * margin, near->height + 2 * margin) & whole;
    const int smallest = std::max(kFaceMinSize, static_cast<int>(near->width * kNearSmallest));
    const int largest = static_cast<int>(near->width * kNearLargest);
    if (area.width >= smallest && area.height >= smallest) {
      if (std::optional<cv::Rect> face = FindFaceIn(cascade, gray, area, smallest, largest)) return face;
    }
  }
  return FindFaceIn(cascade, gray, whole, kFaceMinSize, 0);
}

// Both eyes of `face`, in the eye space: the biggest eye-cascade hit in each
// half of the face's upper band (small hits are mostly eyebrows and
// nostrils), or the box's usual eye place for a half without one.
Sighting FindEyes(cv::CascadeClassifier& cascade, const cv::Mat& gray, const cv::Rect& face) {
  const cv::Rect band(face.x, face.y, face.width, std::max(1, static_cast<int>(face.height * kEyeBandHeight)));
  const cv::Size smallest(face.width / kEyeMinSizeDivisor, face.width / kEyeMinSizeDivisor);
  const cv::Size largest(face.width / kEyeMaxSizeDivisor, face.width / kEyeMaxSizeDivisor);
  std::vector<cv::Rect> hits;
  cascade.detectMultiScale(gray(band), hits, kEyeScaleStep, kEyeMinNeighbours, 0, smallest, largest);
  const cv::Rect* inHalf[2] = {nullptr, nullptr};
  for (const cv::Rect& hit : hits) {
    const int half = hit.x + hit.width / 2 < face.width / 2 ? 0 : 1;
    if (inHalf[half] == nullptr || hit.area() > inHalf[half]->area()) inHalf[half] = &hit;
  }
  const double toEyeX = double{kPlayerFrameWidth} / gray.cols;
  const double toEyeY = double{kPlayerFrameHeight} / gray.rows;
  const double fallbackX[2] = {kFallbackLeftX, kFallbackRightX};
  Sighting sighting;
  for (int half = 0; half < 2; ++half) {
    Point p;
    if (const cv::Rect* hit = inHalf[half]; hit != nullptr) {
      p = {band.x + hit->x + hit->width / 2.0, band.y + hit->y + hit->height / 2.0};
      ++sighting.fromCascade;
    } else {
      p = {face.x + face.width * fallbackX[half], face.y + face.height * kFallbackY};
    }
    sighting.eyes[half] = {p.x * toEyeX, p.y * toEyeY};
  }
  return sighting;
}

EyePoint Rounded(const Point& p) {
  return {static_cast<int32_t>(std::lround(p.x)), static_cast<int32_t>(std::lround(p.y))};
}

void StartTrack(EyeTrack& track, const Point& seen) {
  track.smoothed = seen;
  track.speed = {};
  track.reported = Rounded(seen);
}

void FollowTrack(EyeTrack& track, const Point& seen) {
  const Point step{seen.x - track.smoothed.x, seen.y - track.smoothed.y};
  if (std::hypot(step.x, step.y) > kSnapDistance) {
    StartTrack(track, seen);
    return;
  }
  track.speed.x += (step.x - track.speed.x) * kSpeedShare;
  track.speed.y += (step.y - track.speed.y) * kSpeedShare;
  const double share = std::min(1.0, kStillShare + kSharePerSpeed * std::hypot(track.speed.x, track.speed.y));
  track.smoothed.x += step.x * share;
  track.smoothed.y += step.y * share;
  const double drift = std::hypot(track.smoothed.x - track.reported.x, track.smoothed.y - track.reported.y);
  if (drift >= kDeadBand) track.reported = Rounded(track.smoothed);
}

}  // namespace

struct EyeDetector::State {
  cv::CascadeClassifier faces;
  cv::CascadeClassifier eyes;
  bool tracking = false;
  EyeTrack tracks[2];
  int framesWithoutFace = 0;
  std::optional<cv::Rect> lastFace;  // in the work picture
  int framesSinceFullSearch = 0;
};

std::unique_ptr<EyeDetector> EyeDetector::Create(std::string* error, const std::string& cascadeDir) {
  const auto fail = [error](const std::string& message) {
    if (error != nullptr) *error = message;
    return std::unique_ptr<EyeDetector>();
  };
  const std::optional<std::string> dir = FindCascadeDir(cascadeDir);
  if (!dir) {
    return fail(std::string("eye detection needs OpenCV's cascade files (Debian package opencv-data): ") +
                kFaceCascade + " not found" + (cascadeDir.empty() ? "" : " in " + cascadeDir));
  }
  auto state = std::make_unique<State>();
  try {
    if (!state->faces.load(*dir + "/" + kFaceCascade)) return fail("cannot load " + *dir + "/" + kFaceCascade);
    if (!state->eyes.load(*dir + "/" + kEyeCascade)) return fail("cannot load " + *dir + "/" + kEyeCascade);
  } catch (const cv::Exception& e) {
    return fail("cannot load the eye detector's cascades: " + e.msg);
  }
  return std::unique_ptr<EyeDetector>(new EyeDetector(std::move(state)));
}

EyeDetector::EyeDetector(std::unique_ptr<State> state) : state_(std::move(state)) {}
EyeDetector::~EyeDetector() = default;

void EyeDetector::Reset() {
  state_->tracking = false;
  state_->framesWithoutFace = 0;
  state_->lastFace.reset();
}

EyeResult EyeDetector::Feed(const BgrView& frame) {
  EyeResult result;
  State& s = *state_;
  std::optional<Sighting> sighting;
  const bool usable = frame.pixels != nullptr && frame.width > 0 && frame.height > 0 &&
                      frame.rowBytes >= int64_t{frame.width} * kBytesPerPixel;
  if (usable) {
    const cv::Mat gray = WorkPicture(frame);
    const bool searchAll = !s.lastFace || ++s.framesSinceFullSearch >= kFullSearchInterval;
    if (searchAll) s.framesSinceFullSearch = 0;
    s.lastFace = FindFace(s.faces, gray, searchAll ? std::nullopt : s.lastFace);
    if (s.lastFace) sighting = FindEyes(s.eyes, gray, *s.lastFace);
  }

  if (sighting) {
    result.faceFound = true;
    result.eyesFromCascade = sighting->fromCascade;
    for (int eye = 0; eye < 2; ++eye) {
      if (s.tracking) {
        FollowTrack(s.tracks[eye], sighting->eyes[eye]);
      } else {
        StartTrack(s.tracks[eye], sighting->eyes[eye]);
      }
    }
    s.tracking = true;
    s.framesWithoutFace = 0;
  } else if (s.tracking && ++s.framesWithoutFace > kHoldFrames) {
    s.tracking = false;
  }

  if (s.tracking) {
    result.count = 2;
    for (int eye = 0; eye < 2; ++eye) result.eyes[eye] = s.tracks[eye].reported;
  }
  return result;
}

}  // namespace tiko::host
