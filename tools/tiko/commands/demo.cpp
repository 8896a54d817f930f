// tiko demo: the embedded default. Builds the demo package (pictures drawn
// and sounds synthesized in code), films a panning, zooming clip of a real
// face, renders the package over it with eye detection to demo.mp4 with
// sound, and lays eight of its frames out on a contact sheet.
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "commands.h"
#include "commands/render.h"
#include "demo_package.h"
#include "host/files.h"
#include "host/image_bitmap.h"
#include "host/media/common.h"
#include "host/media/input.h"
#include "host/media/output.h"

namespace tiko::tool {

using media::VideoInput;
using media::VideoOutput;
using media::QuietLibraryLogs;
using host::WriteFileAtomically;

// The face photograph, compiled into the program (see media/README.md).
extern const unsigned char kFacePicture[];
extern const unsigned long kFacePictureSize;

namespace {

namespace fs = std::filesystem;

constexpr int32_t kWidth = 640, kHeight = 480;
constexpr double kRate = 25;
constexpr int kClipFrames = 150;  // six seconds
constexpr int kSheetColumns = 4, kSheetRows = 2;
constexpr int32_t kThumbWidth = 320, kThumbHeight = 240;

// One frame of the clip: a window that pans and zooms over the photograph,
// sampled bilinearly to the frame size. Top-down BGR24.
std::vector<uint8_t> ClipFrame(const host::BgrImage& face, int n) {
  const double t = n / kRate;
  const double zoom = 0.72 + 0.2 * (0.5 + 0.5 * std::cos(0.8 * t));
  const double w = face.width * zoom, h = w * kHeight / kWidth;
  const double cx = face.width / 2.0 + (face.width - w) / 2 * std::sin(1.1 * t);
  const double cy = face.height / 2.0 + (face.height - h) / 2 * std::sin(0.7 * t + 0.5);
  std::vector<uint8_t> frame(size_t(kWidth) * kHeight * 3);
  for (int32_t y = 0; y < kHeight; ++y) {
    const double sy = std::clamp(cy - h / 2 + (y + 0.5) * h / kHeight - 0.5, 0.0, face.height - 1.001);
    const int32_t y0 = static_cast<int32_t>(sy);
    const double fy = sy - y0;
    for (int32_t x = 0; x < kWidth; ++x) {
      const double sx = std::clamp(cx - w / 2 + (x + 0.5) * w / kWidth - 0.5, 0.0, face.width - 1.001);
      const int32_t x0 = static_cast<int32_t>(sx);
      const double fx = sx - x0;
      for (int k = 0; k < 3; ++k) {
        const auto at = [&](int32_t xx, int32_t yy) { return face.pixels[(size_t(yy) * face.width + xx) * 3 + k]; };
        const double top = at(x0, y0) * (1 - fx) + at(x0 + 1, y0) * fx;
        const double bottom = at(x0, y0 + 1) * (1 - fx) + at(x0 + 1, y0 + 1) * fx;
        frame[(size_t(y) * kWidth + x) * 3 + k] = static_cast<uint8_t>(std::lround(top * (1 - fy) + bottom * fy));
      }
    }
  }
  return frame;
}

void ContactSheet(const std::string& video, const std::string& sheet) {
  VideoInput input = VideoInput::Open(video, kThumbWidth, kThumbHeight, kRate);
  const int64_t frames = input.FrameCount(kRate).value_or(kClipFrames);
  const int32_t sheetWidth = kThumbWidth * kSheetColumns, sheetHeight = kThumbHeight * kSheetRows;
  std::vector<uint8_t> pixels(size_t(sheetWidth) * sheetHeight * 3, 0);
  for (int i = 0; i < kSheetColumns * kSheetRows; ++i) {
    const int64_t n = (frames - 1) * i / (kSheetColumns * kSheetRows - 1);
    const std::vector<uint8_t>* frame = input.FrameAt(n / kRate, kRate);
    if (frame == nullptr) break;
    const int32_t left = (i % kSheetColumns) * kThumbWidth, top = (i / kSheetColumns) * kThumbHeight;
    for (int32_t y = 0; y < kThumbHeight; ++y) {
      // The input's frames are bottom-up; the sheet is top-down.
      const uint8_t* row = frame->data() + size_t(kThumbHeight - 1 - y) * kThumbWidth * 3;
      std::copy(row, row + kThumbWidth * 3, pixels.begin() + (size_t(top + y) * sheetWidth + left) * 3);
    }
  }
  std::string error;
  if (!host::WritePngFile(sheet, pixels.data(), sheetWidth, sheetHeight, &error)) {
    throw ToolError("cannot write " + sheet + ": " + error);
  }
}

// The files the demo has made so far; should it fail, it takes them away
// again (and the folder, when it made that too).
class DemoFiles {
 public:
  explicit DemoFiles(const std::string& dir) : dir_(dir) {
    std::error_code failed;
    madeFolder_ = !fs::exists(dir, failed);
    fs::create_directories(dir, failed);
    if (failed) throw ToolError("cannot create the folder " + dir + ": " + failed.message());
  }
  ~DemoFiles() {
    if (kept_) return;
    std::error_code ignored;
    for (const std::string& path : made_) fs::remove(path, ignored);
    if (madeFolder_) fs::remove(dir_, ignored);
  }
  DemoFiles(const DemoFiles&) = delete;
  DemoFiles& operator=(const DemoFiles&) = delete;

  std::string Path(const std::string& name) {
    made_.push_back((fs::path(dir_) / name).string());
    return made_.back();
  }
  void Keep() { kept_ = true; }

 private:
  std::string dir_;
  bool madeFolder_ = false;
  std::vector<std::string> made_;
  bool kept_ = false;
};

int RunDemo(const std::string& dir, bool quiet) {
  QuietLibraryLogs(false);
  DemoFiles files(dir);
  const std::string package = files.Path("demo.tiko");
  WriteFileAtomically(package, authoring::WritePackage(DemoPackage()));
  for (const WaveFile& wave : DemoSounds()) WriteFileAtomically(files.Path(wave.name), wave.bytes);

  // The face, from the bytes compiled in, through the usual picture reader.
  const std::string facePath = files.Path("face.jpg");
  WriteFileAtomically(facePath, std::vector<uint8_t>(kFacePicture, kFacePicture + kFacePictureSize));
  std::string error;
  const auto face = host::ReadImageFile(facePath, &error);
  std::error_code ignored;
  fs::remove(facePath, ignored);
  if (!face) throw ToolError("the built-in face picture: " + error);

  const std::string clip = files.Path("face-clip.mkv");
  {
    VideoOutput output = VideoOutput::Open(clip, kWidth, kHeight, kRate);
    for (int n = 0; n < kClipFrames; ++n) output.Write(ClipFrame(*face, n).data());
    output.Finish({});
  }
  RenderOptions render;
  render.package = package;
  render.input = clip;
  render.output = files.Path("demo.mp4");
  render.eyes = kEyesAuto;
  render.quiet = quiet;
  if (const int status = RunRender(render); status != 0) return status;
  fs::remove(clip, ignored);
  const std::string sheet = files.Path("contact-sheet.png");
  ContactSheet(render.output, sheet);
  files.Keep();
  if (!quiet) {
    std::printf("demo package: %s\nvideo:        %s\ncontact sheet: %s\n", package.c_str(), render.output.c_str(),
                sheet.c_str());
  }
  return 0;
}

}  // namespace

Runner AddDemo(CLI::App& app) {
  auto* cmd = app.add_subcommand("demo", "Build the demo package and render it over a face clip to demo.mp4");
  auto dir = std::make_shared<std::string>("tiko-demo");
  auto quiet = std::make_shared<bool>(false);
  cmd->add_option("-o,--output", *dir, "Directory for the package, its sounds, demo.mp4 and contact-sheet.png")
      ->capture_default_str();
  cmd->add_flag("-q,--quiet", *quiet, "No progress and no summary");
  return [dir, quiet]() { return RunDemo(*dir, *quiet); };
}

}  // namespace tiko::tool
