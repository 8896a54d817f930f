// A minimal host program: it opens a player on a headless window over a
// background picture, renders 100 frames while reporting two eyes that circle
// the middle of the picture, and saves what the window shows as a PNG file.
//
//   tiko-host PACKAGE [OUTPUT.png] [BACKGROUND.png|.jpg]
#include <tiko/tiko.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "host/image_bitmap.h"
#include "host/memory_window.h"
#include "host/paths.h"

namespace {

constexpr int32_t kFrameWidth = 320;  // the player's frame (Open's default size)
constexpr int32_t kFrameHeight = 240;
constexpr int kFrames = 100;

// A soft diagonal gradient, for when no background picture is given.
tiko::host::BgrImage Gradient() {
  tiko::host::BgrImage image{kFrameWidth, kFrameHeight, {}};
  for (int32_t y = 0; y < kFrameHeight; ++y) {
    for (int32_t x = 0; x < kFrameWidth; ++x) {
      image.pixels.push_back(static_cast<uint8_t>(96 + y / 3));   // blue
      image.pixels.push_back(static_cast<uint8_t>(48 + x / 5));   // green
      image.pixels.push_back(static_cast<uint8_t>(32 + (x + y) / 8));  // red
    }
  }
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PACKAGE [OUTPUT.png] [BACKGROUND.png|.jpg]\n", argv[0]);
    return 2;
  }
  const std::string output = argc > 2 ? argv[2] : "tiko-host.png";
  std::string error;

  // The background must have the frame's size: a picture file is fitted to it.
  tiko::host::BgrImage picture = Gradient();
  if (argc > 3) {
    auto loaded = tiko::host::ReadImageFile(argv[3], &error);
    if (!loaded) return std::fprintf(stderr, "%s\n", error.c_str()), 1;
    picture = tiko::host::ResizeNearest(*loaded, kFrameWidth, kFrameHeight);
  }
  tiko::host::ImageBitmap background(picture);
  // A window twice the frame's size: every frame is stretched to fill it.
  tiko::host::MemoryWindow window(2 * kFrameWidth, 2 * kFrameHeight);

  const auto path = tiko::host::Utf8ToUtf16(argv[1]);
  if (!path) return std::fprintf(stderr, "the package path is not UTF-8\n"), 1;
  CTikoPlayer* player = TikoGetInterface();
  if (player == nullptr) return std::fprintf(stderr, "out of memory\n"), 1;
  if (player->Open(&window, path->c_str(), &background) == 0) {
    std::fprintf(stderr, "cannot open %s (error 0x%08X)\n", argv[1], TikoGetLastError());
    player->Release();
    return 1;
  }

  int withActors = 0;
  for (int frame = 0; frame < kFrames; ++frame) {
    // Eye positions are in a 320 x 240 image with row 0 at the top.
    const double angle = frame * 0.12;
    const int32_t dx = static_cast<int32_t>(std::lround(12 * std::cos(angle)));
    const int32_t dy = static_cast<int32_t>(std::lround(8 * std::sin(angle)));
    player->SetEyePosition(130 + dx, 100 + dy);
    player->SetEyePosition(190 + dx, 100 + dy);
    withActors += player->RenderBackground();  // no camera here: the background each time
  }
  player->Release();

  if (!tiko::host::WritePngFile(output, window.pixels().data(), window.width(), window.height(), &error)) {
    return std::fprintf(stderr, "%s\n", error.c_str()), 1;
  }
  std::printf("rendered %d frames (%d with actors on stage, %zu sound cues); the last one is in %s\n", kFrames,
              withActors, window.waves().size(), output.c_str());
  return 0;
}
