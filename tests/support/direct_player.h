// The player driven directly through its public interface on a memory
// window, as a host of the stage's frames drives it: what an integration's
// output must be, for its tests.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/eyes/eye_file.h"
#include "host/eyes/eye_reports.h"
#include "host/memory_window.h"
#include "host/paths.h"
#include "host/player_ptr.h"
#include "host/stage.h"
#include "tiko/tiko.h"

namespace tiko::test {

// The player driven directly, frame by frame, as a host of the stage's
// frames does it: the output frames, top-down BGR24.
class DirectPlayer {
 public:
  DirectPlayer(const std::string& package, int32_t width, int32_t height, host::StageFit fit)
      : stage_(host::LayOutStage(width, height, fit)), window_(stage_.playerWidth, stage_.playerHeight) {
    player_.reset(TikoGetInterface());
    const std::optional<std::u16string> wide = host::Utf8ToUtf16(package);
    opened_ = player_ && wide &&
              player_->OpenSized(&window_, wide->c_str(), nullptr, stage_.playerWidth, stage_.playerHeight) == 1;
  }
  bool opened() const { return opened_; }
  const host::MemoryWindow& window() const { return window_; }

  bool ChangePackage(const std::string& package) {
    reporter_.PackageChanged();
    const std::optional<std::u16string> wide = host::Utf8ToUtf16(package);
    return wide && player_->ChangePackage(wide->c_str()) == 1;
  }

  // One frame (top-down) with the eyes seen on it, in the eye space over it.
  std::vector<uint8_t> Render(const std::vector<uint8_t>& topDown, const std::vector<host::EyePoint>& eyes = {}) {
    const int32_t w = stage_.frameWidth;
    const int32_t h = stage_.frameHeight;
    std::vector<uint8_t> bottomUp(topDown.size());
    host::FlipRows(topDown.data(), bottomUp.data(), w, h);
    host::SeenEyes seen = host::SeenOf(host::FrameEyes{eyes, false});
    for (std::optional<host::EyePoint>& eye : seen) {
      if (eye) eye = host::FrameEyeToPlayer(stage_, *eye);
    }
    for (const host::EyePoint& eye : reporter_.Next(seen)) player_->SetEyePosition(eye.x, eye.y);
    std::vector<uint8_t> given = bottomUp;
    if (!host::IsIdentity(stage_)) {
      given.resize(size_t(stage_.playerWidth) * stage_.playerHeight * 3);
      host::FrameToPlayer(stage_, bottomUp.data(), given.data(), true);
    }
    player_->Render(given.data(), 0);
    if (host::IsIdentity(stage_)) return window_.pixels();
    std::vector<uint8_t> out = topDown;
    host::PlayerToFrame(stage_, window_.pixels().data(), out.data());
    return out;
  }

 private:
  host::StageLayout stage_;
  host::MemoryWindow window_;
  host::PlayerPtr player_;
  host::EyeReporter reporter_;
  bool opened_ = false;
};

}  // namespace tiko::test
