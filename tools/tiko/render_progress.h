// A one-line progress bar on the terminal for long renders: frames done,
// frames a second, and the time left when the total is known.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace tiko::tool {

class ProgressBar {
 public:
  // Draws nothing unless `shown` (a terminal, and not asked to be quiet).
  ProgressBar(bool shown, std::optional<int64_t> total);
  // Redraws with `done` frames finished, at most a few times a second.
  void Update(int64_t done);
  // Draws the bar a last time with `done` frames, at 100% when the work is
  // `complete` (the total was an estimate), and ends its line.
  void Finish(int64_t done, bool complete);
  // Takes the bar off the line.
  void Clear();

 private:
  bool shown_;
  std::optional<int64_t> total_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastDrawn_;
  bool drawn_ = false;

  void Draw(int64_t done);
};

// Whether progress may be drawn on stderr: it is a terminal.
bool ErrorsGoToTerminal();

}  // namespace tiko::tool
