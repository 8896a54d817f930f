#include "eye_source.h"

#include <stdexcept>

#include "commands.h"

namespace tiko::tool {
namespace {

constexpr int kBytesPerPixel = 3;

}  // namespace

EyeSource EyeSource::Open(const std::string& mode) {
  EyeSource source;
  if (mode == kEyesNone) return source;
  if (mode == kEyesAuto) {
    std::string why;
    source.detector_ = host::EyeDetector::Create(&why);
    if (!source.detector_) throw ToolError(why + " (or use --eyes none)");
    return source;
  }
  std::vector<std::string> warnings;
  try {
    source.table_ = host::ReadEyeFile(mode, &warnings);
  } catch (const std::runtime_error& e) {
    throw ToolError(e.what());
  }
  for (const std::string& warning : warnings) PrintWarning(warning);
  return source;
}

host::FrameEyes EyeSource::See(int64_t index, const uint8_t* bottomUp, int32_t width, int32_t height,
                              size_t rowBytes) {
  host::FrameEyes eyes;
  if (table_) {
    if (const auto found = table_->find(index); found != table_->end()) eyes = found->second;
  } else if (detector_ && bottomUp != nullptr) {
    const host::BgrView view{bottomUp, width, height, static_cast<int64_t>(rowBytes), true};
    const host::EyeResult result = detector_->Feed(view);
    eyes.eyes.assign(result.eyes, result.eyes + result.count);
  }
  if (!eyes.eyes.empty()) seen_[index] = eyes;
  return eyes;
}

std::vector<host::EyePoint> EyeSource::Reports(const host::FrameEyes& eyes, const host::StageLayout& stage) {
  host::SeenEyes seen = host::SeenOf(eyes);
  for (std::optional<host::EyePoint>& eye : seen) {
    if (eye) eye = host::FrameEyeToPlayer(stage, *eye);
  }
  return reporter_.Next(seen);
}

void EyeSource::Restart() {
  if (detector_) detector_->Reset();
}

}  // namespace tiko::tool
