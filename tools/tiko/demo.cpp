// tiko demo: the embedded default. Builds the demo package (pictures drawn
// and sounds synthesized in code), films a panning, zooming clip of a real
// face, renders the package over it with eye detection to demo.mp4 with
// sound, and lays eight of its frames out on a contact sheet.
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "commands.h"
#include "demo_package.h"
#include "host/image_bitmap.h"
#include "media_common.h"
#include "media_input.h"
#include "media_output.h"
#include "pictures.h"

namespace tiko::tool {

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

// Runs this program again with `args`; returns its exit status.
int RunSelf(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  std::string self = "/proc/self/exe";
  argv.push_back(self.data());
  std::vector<std::string> copies = args;
  for (auto& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) return kExitFailure;
  if (pid == 0) {
    execv(self.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : kExitFailure;
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
    throw Failure{sheet + ": " + error};
  }
}

int RunDemo(const std::string& dir, bool quiet) {
  QuietLibraryLogs(false);
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) {
    PrintError(dir + ": cannot create the directory");
    return kExitFailure;
  }
  const std::string package = (fs::path(dir) / "demo.tiko").string();
  const std::string clip = (fs::path(dir) / "face-clip.mkv").string();
  const std::string video = (fs::path(dir) / "demo.mp4").string();
  const std::string sheet = (fs::path(dir) / "contact-sheet.png").string();
  try {
    WriteAtomically(package, authoring::WritePackage(DemoPackage()));
    for (const WaveFile& wave : DemoSounds()) WriteAtomically((fs::path(dir) / wave.name).string(), wave.bytes);

    const std::string facePath = (fs::path(dir) / "face.jpg").string();
    WriteAtomically(facePath, std::vector<uint8_t>(kFacePicture, kFacePicture + kFacePictureSize));
    std::string error;
    const auto face = host::ReadImageFile(facePath, &error);
    fs::remove(facePath, ec);
    if (!face) throw Failure{"the built-in face picture: " + error};
    {
      VideoOutput output = VideoOutput::Open(clip, kWidth, kHeight, kRate);
      for (int n = 0; n < kClipFrames; ++n) output.Write(ClipFrame(*face, n).data());
      output.Finish({});
    }
    std::vector<std::string> args = {"render", package, "-i", clip, "-o", video, "--size", "640x480", "--eyes", "auto"};
    if (quiet) args.push_back("--quiet");
    if (const int status = RunSelf(args); status != 0) return status;
    fs::remove(clip, ec);
    ContactSheet(video, sheet);
  } catch (const Failure& f) {
    PrintError(f.message);
    return kExitFailure;
  } catch (const MediaError& e) {
    PrintError(e.what());
    return kExitFailure;
  } catch (const authoring::PackageError& e) {
    PrintError(e.what());
    return kExitFailure;
  }
  if (!quiet) {
    std::printf("demo package: %s\nvideo:        %s\ncontact sheet: %s\n", package.c_str(), video.c_str(),
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
