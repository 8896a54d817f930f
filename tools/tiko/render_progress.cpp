#include "render_progress.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace tiko::tool {
namespace {

constexpr int kBarWidth = 30;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

std::string Duration(double seconds) {
  const auto whole = static_cast<int64_t>(std::ceil(seconds));
  char text[32];
  if (whole >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(whole / 3600),
                  static_cast<long long>(whole / 60 % 60), static_cast<long long>(whole % 60));
  } else if (whole >= 60) {
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(whole / 60),
                  static_cast<long long>(whole % 60));
  } else {
    std::snprintf(text, sizeof text, "%lld s", static_cast<long long>(whole));
  }
  return text;
}

}  // namespace

bool ErrorsGoToTerminal() { return isatty(STDERR_FILENO) == 1; }

ProgressBar::ProgressBar(bool shown, std::optional<int64_t> total)
    : shown_(shown), total_(total), start_(std::chrono::steady_clock::now()), lastDrawn_(start_) {}

void ProgressBar::Update(int64_t done) {
  if (!shown_) return;
  const auto now = std::chrono::steady_clock::now();
  if (drawn_ && now - lastDrawn_ < kRedrawInterval) return;
  Draw(done);
}

void ProgressBar::Finish(int64_t done, bool complete) {
  if (!shown_) return;
  if (complete && done > 0) total_ = done;
  Draw(done);
  std::fputs("\n", stderr);
  std::fflush(stderr);
  drawn_ = false;
}

void ProgressBar::Draw(int64_t done) {
  const auto now = std::chrono::steady_clock::now();
  lastDrawn_ = now;
  drawn_ = true;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  const double rate = seconds > 0 ? done / seconds : 0.0;
  std::string line = "\r";
  char text[96];
  if (total_ && *total_ > 0) {
    const double share = std::clamp(static_cast<double>(done) / static_cast<double>(*total_), 0.0, 1.0);
    const int filled = static_cast<int>(share * kBarWidth);
    line += "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '-') + "]";
    std::snprintf(text, sizeof text, " %3d%%  %lld/%lld frames  %.1f frames/s", static_cast<int>(share * 100),
                  static_cast<long long>(done), static_cast<long long>(*total_), rate);
    line += text;
    if (rate > 0 && done < *total_) line += "  " + Duration(static_cast<double>(*total_ - done) / rate) + " left";
    if (done >= *total_) line += "  " + Duration(seconds);
  } else {
    std::snprintf(text, sizeof text, "%lld frames  %.1f frames/s", static_cast<long long>(done), rate);
    line += text;
  }
  line += "\033[K";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

void ProgressBar::Clear() {
  if (!shown_ || !drawn_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  drawn_ = false;
}

}  // namespace tiko::tool
