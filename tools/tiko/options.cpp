#include "options.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "commands.h"

namespace tiko::tool {
namespace {

std::optional<int64_t> WholeNumber(const char* begin, const char* end) {
  int64_t value = 0;
  if (begin != end && *begin == '+') ++begin;
  const auto [stop, error] = std::from_chars(begin, end, value);
  if (begin == end || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

// Two whole numbers with `separator` between them and nothing else.
std::optional<std::pair<int64_t, int64_t>> Pair(const std::string& text, char separator) {
  const size_t split = text.find(separator);
  if (split == std::string::npos) return std::nullopt;
  const std::optional<int64_t> first = WholeNumber(text.data(), text.data() + split);
  const std::optional<int64_t> second = WholeNumber(text.data() + split + 1, text.data() + text.size());
  if (!first || !second) return std::nullopt;
  return std::pair{*first, *second};
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

FrameSize ParseFrameSize(const std::string& option, const std::string& text) {
  const auto pair = Pair(Trimmed(text), 'x');
  if (!pair || pair->first < 1 || pair->second < 1 || pair->first > kLargestSide || pair->second > kLargestSide) {
    throw UsageError(option + ": expected WIDTHxHEIGHT with sides from 1 to " + std::to_string(kLargestSide) +
                     ", such as 640x480, not \"" + text + "\"");
  }
  return FrameSize{static_cast<int32_t>(pair->first), static_cast<int32_t>(pair->second)};
}

Offset ParseOffset(const std::string& option, const std::string& text) {
  const auto pair = Pair(Trimmed(text), ',');
  const auto fits = [](int64_t v) { return v >= -kLargestSide && v <= kLargestSide; };
  if (!pair || !fits(pair->first) || !fits(pair->second)) {
    throw UsageError(option + ": expected X,Y in pixels, such as 16,-8, not \"" + text + "\"");
  }
  return Offset{static_cast<int32_t>(pair->first), static_cast<int32_t>(pair->second)};
}

int64_t ParseCount(const std::string& option, const std::string& text) {
  const std::string t = Trimmed(text);
  const std::optional<int64_t> value = WholeNumber(t.data(), t.data() + t.size());
  if (!value || *value < 1) throw UsageError(option + ": expected a whole number of 1 or more, not \"" + text + "\"");
  return *value;
}

double ParseRate(const std::string& option, const std::string& text) {
  const std::string t = Trimmed(text);
  char* end = nullptr;
  const double value = t.empty() ? NAN : std::strtod(t.c_str(), &end);
  // strtod also reads "nan", "inf" and hexadecimal: only finite values in
  // the range count, and nothing may follow the number.
  if (!std::isfinite(value) || end != t.c_str() + t.size() || value < kLowestRate || value > kHighestRate) {
    char range[64];
    std::snprintf(range, sizeof range, "%g to %g", kLowestRate, kHighestRate);
    throw UsageError(option + ": expected frames a second from " + range + ", not \"" + text + "\"");
  }
  return value;
}

host::StageFit ParseStage(const std::string& option, const std::string& text) {
  if (text == "cover") return host::StageFit::kCover;
  if (text == "fit") return host::StageFit::kFit;
  if (text == "stretch") return host::StageFit::kStretch;
  throw UsageError(option + ": expected " + Alternatives({"cover", "fit", "stretch"}) + ", not \"" + text + "\"");
}

void AddEyesOption(CLI::App& command, std::string* eyes) {
  command.add_option("--eyes", *eyes, "Eye positions: auto (detected), a CSV file (frame,x1,y1,x2,y2), or none")
      ->capture_default_str();
}

void AddFrameOptions(CLI::App& command, std::string* size, std::string* stage, std::string* rate) {
  command.add_option("--size", *size,
                     "Frame size WIDTHxHEIGHT, 1 to 65535 a side (default: the input's own, else 320x240)");
  command
      .add_option("--stage", *stage,
                  "How the 4:3 stage meets other frame shapes: cover (crop it to the frame), fit (inside the "
                  "frame), stretch")
      ->capture_default_str();
  command.add_option("--fps", *rate, "Frames a second, 0.1 to 1000 (default: the input's own, else 25)");
}

std::string Alternatives(std::initializer_list<const char*> words) {
  std::string list;
  size_t i = 0;
  for (const char* word : words) {
    if (i > 0) list += i + 1 == words.size() ? " or " : ", ";
    list += word;
    ++i;
  }
  return list;
}

}  // namespace tiko::tool
