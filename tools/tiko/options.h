// The option values the commands share, parsed in one place with one set of
// limits, so that every command takes and refuses the same words. A value
// that does not parse is a UsageError whose one line names the option and
// what it accepts.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "host/frame_format.h"
#include "host/stage.h"

namespace tiko::tool {

using host::kLargestSide;
// Sizes for inputs that have none of their own (test sources, no input).
inline constexpr int32_t kDefaultWidth = host::kPlayerFrameWidth;
inline constexpr int32_t kDefaultHeight = host::kPlayerFrameHeight;
// Frame rates a command takes, and the one it uses when the input has none.
inline constexpr double kLowestRate = 0.1;
inline constexpr double kHighestRate = 1000;
inline constexpr double kDefaultRate = 25;

struct FrameSize {
  int32_t width = 0;
  int32_t height = 0;
};

struct Offset {
  int32_t x = 0;
  int32_t y = 0;
};

// WIDTHxHEIGHT, each side from 1 to kLargestSide.
FrameSize ParseFrameSize(const std::string& option, const std::string& text);
// X,Y in pixels, either may be negative.
Offset ParseOffset(const std::string& option, const std::string& text);
// A whole number of 1 or more.
int64_t ParseCount(const std::string& option, const std::string& text);
// A frame rate from kLowestRate to kHighestRate; never nan or infinite.
double ParseRate(const std::string& option, const std::string& text);
// cover, fit or stretch.
host::StageFit ParseStage(const std::string& option, const std::string& text);

// --eyes, the eye positions: "auto", "none" or an eye file.
void AddEyesOption(CLI::App& command, std::string* eyes);

// The options every command that shows frames takes, with the same words:
// --size, --stage and --fps, bound to the strings the Parse functions read.
void AddFrameOptions(CLI::App& command, std::string* size, std::string* stage, std::string* rate);

// "a, b or c", for messages that list the accepted words.
std::string Alternatives(std::initializer_list<const char*> words);

}  // namespace tiko::tool
