// Players share nothing: two of them rendering different packages on two
// threads at once give the same frames and sounds as each alone. Run under
// ThreadSanitizer in CI as well.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "player_fixtures.h"
#include "support/package_files.h"

namespace tiko {
namespace {

using playertest::Library;
using playertest::RecordingWindow;

constexpr int kFrames = 120;

// A box that moves right and bounces, with a cue every frame.
authoring::PackageDesc MovingPackage() {
  authoring::PackageDesc desc = playertest::BoxPackage(0, 3000, 40, 50, 60);
  ActorStep move{};
  move.flags = authoring::MakeStepFlags({.x = kPosBounce, .altAdvance = kAltAdvanceNone});
  move.x = 230;
  move.cueMarker = kCueMarker;
  move.cueName[0] = 'm';
  desc.actors[0].steps.push_back(move);
  return desc;
}

struct Playback {
  std::vector<std::vector<uint8_t>> frames;
  std::vector<int32_t> results;
  std::vector<std::string> waves;
};

// Opens a player on `path` and renders kFrames frames from a host frame that
// changes every time, with an eye report every few frames.
Playback Play(const std::u16string& path, uint8_t seed, std::atomic<int>* ready) {
  Playback run;
  RecordingWindow window;
  CTikoPlayer* player = Library().getInterface();
  if (player == nullptr) return run;
  if (player->Open(&window, path.c_str(), nullptr) == 1) {
    if (ready != nullptr) {
      // Start together, so that the renders overlap.
      ready->fetch_add(1);
      while (ready->load() < 2) std::this_thread::yield();
    }
    std::vector<uint8_t> host(playertest::kFrameBytes);
    for (int i = 0; i < kFrames; ++i) {
      for (size_t k = 0; k < host.size(); k += 97) host[k] = static_cast<uint8_t>(seed + i + k);
      if (i % 5 == 0) player->SetEyePosition(40 + i, 60 + seed);
      run.results.push_back(player->Render(host.data(), 0));
    }
  }
  player->Release();
  for (const playertest::Presented& p : window.presents) run.frames.push_back(p.frame);
  run.waves = window.waves;
  return run;
}

TEST(PlayerThreads, TwoPlayersAtOnceRenderAsEachAlone) {
  ASSERT_NE(Library().handle, nullptr) << Library().error;
  test::TempDir dir;
  const std::u16string rich = test::Wide(playertest::WriteDesc(dir, "rich.tiko", test::RichPackage()));
  const std::u16string moving = test::Wide(playertest::WriteDesc(dir, "moving.tiko", MovingPackage()));

  const Playback aloneA = Play(rich, 1, nullptr);
  const Playback aloneB = Play(moving, 2, nullptr);
  ASSERT_EQ(aloneA.frames.size(), size_t{kFrames});
  ASSERT_EQ(aloneB.frames.size(), size_t{kFrames});
  EXPECT_FALSE(aloneB.waves.empty());

  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    std::atomic<int> ready{0};
    Playback togetherA;
    Playback togetherB;
    std::thread a([&] { togetherA = Play(rich, 1, &ready); });
    std::thread b([&] { togetherB = Play(moving, 2, &ready); });
    a.join();
    b.join();
    EXPECT_EQ(togetherA.results, aloneA.results);
    EXPECT_EQ(togetherB.results, aloneB.results);
    EXPECT_TRUE(togetherA.frames == aloneA.frames);
    EXPECT_TRUE(togetherB.frames == aloneB.frames);
    // Each player's cues reached its own window only.
    EXPECT_EQ(togetherA.waves, aloneA.waves);
    EXPECT_EQ(togetherB.waves, aloneB.waves);
  }
}

}  // namespace
}  // namespace tiko
