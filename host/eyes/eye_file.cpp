#include "host/eyes/eye_file.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>

#include "host/frame_format.h"

namespace tiko::host {
namespace {

constexpr size_t kFieldCount = 5;  // frame, x1, y1, x2, y2
constexpr const char* kHeader = "frame,x1,y1,x2,y2";

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::vector<std::string> SplitFields(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t comma = line.find(','); comma != std::string::npos; comma = line.find(',', start)) {
    fields.push_back(Trim(line.substr(start, comma - start)));
    start = comma + 1;
  }
  fields.push_back(Trim(line.substr(start)));
  return fields;
}

template <typename Integer>
std::optional<Integer> ParseInteger(const std::string& text) {
  Integer value{};
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

// The eyes of one line, or why they cannot be read.
std::optional<std::string> ParseEyes(const std::vector<std::string>& fields, FrameEyes* frame) {
  for (size_t eye = 0; eye < 2; ++eye) {
    const size_t at = 1 + eye * 2;
    const std::string x = at < fields.size() ? fields[at] : "";
    const std::string y = at + 1 < fields.size() ? fields[at + 1] : "";
    if (x.empty() && y.empty()) continue;
    const std::optional<int32_t> px = ParseInteger<int32_t>(x);
    const std::optional<int32_t> py = ParseInteger<int32_t>(y);
    if (!px || !py) return "eye " + std::to_string(eye + 1) + " needs two integers, got \"" + x + "\",\"" + y + "\"";
    if (eye == 1 && frame->eyes.empty()) frame->secondOnly = true;
    frame->eyes.push_back(EyePoint{*px, *py});
  }
  return std::nullopt;
}

bool Hides(const FrameEyes& frame) {
  for (const EyePoint& eye : frame.eyes) {
    if (eye.x < 0 || eye.y < 0) return true;
  }
  return false;
}

std::string ReadAll(const std::string& path) {
  const File file(std::fopen(path.c_str(), "rb"));
  if (file == nullptr) throw std::runtime_error("cannot open eye file " + path + ": " + std::strerror(errno));
  std::string text;
  char buffer[4096];
  for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;) text.append(buffer, got);
  if (std::ferror(file.get()) != 0) {
    throw std::runtime_error("cannot read eye file " + path + ": " + std::strerror(errno));
  }
  return text;
}

}  // namespace

SeenEyes SeenOf(const FrameEyes& frame) {
  SeenEyes seen;
  const size_t first = frame.secondOnly ? 1 : 0;
  for (size_t i = 0; i < frame.eyes.size() && first + i < seen.size(); ++i) seen[first + i] = frame.eyes[i];
  return seen;
}

EyeTable ReadEyeFile(const std::string& path, std::vector<std::string>* warnings) {
  const std::string text = ReadAll(path);
  EyeTable table;
  std::map<int64_t, int64_t> lineOfFrame;
  int64_t number = 0;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    const auto warn = [&](const std::string& what) {
      if (warnings != nullptr) warnings->push_back(path + ":" + std::to_string(number) + ": " + what);
    };
    const std::vector<std::string> fields = SplitFields(line);
    if (fields.size() == 1 && fields[0].empty()) continue;
    if (!fields[0].empty() && fields[0][0] == '#') continue;
    if (number == 1 && fields[0] == "frame") continue;
    if (fields.size() > kFieldCount) {
      warn(std::to_string(fields.size()) + " fields where " + kHeader + " has " + std::to_string(kFieldCount) +
           "; the line is skipped");
      continue;
    }
    const std::optional<int64_t> frame = ParseInteger<int64_t>(fields[0]);
    if (!frame || *frame < 0) {
      warn("the frame must be a number from 0, got \"" + fields[0] + "\"; the line is skipped");
      continue;
    }
    FrameEyes eyes;
    if (const std::optional<std::string> why = ParseEyes(fields, &eyes)) {
      warn(*why + "; the line is skipped");
      continue;
    }
    if (const auto earlier = lineOfFrame.find(*frame); earlier != lineOfFrame.end()) {
      warn("frame " + std::to_string(*frame) + " is listed before, on line " + std::to_string(earlier->second) +
           "; the line is skipped");
      continue;
    }
    if (!Hides(eyes)) {
      for (size_t i = 0; i < eyes.eyes.size(); ++i) {
        const EyePoint& eye = eyes.eyes[i];
        if (eye.x < kPlayerFrameWidth && eye.y < kPlayerFrameHeight) continue;
        warn("eye " + std::to_string(eyes.secondOnly ? 2 : i + 1) + " at " + std::to_string(eye.x) + "," +
             std::to_string(eye.y) + " is outside the 320 x 240 eye space");
      }
    }
    lineOfFrame.emplace(*frame, number);
    table.emplace(*frame, std::move(eyes));
  }
  return table;
}

bool WriteEyeFile(const std::string& path, const EyeTable& table, std::string* error) {
  const auto fail = [&](const char* what) {
    if (error != nullptr) *error = std::string(what) + " eye file " + path + ": " + std::strerror(errno);
    return false;
  };
  File file(std::fopen(path.c_str(), "wb"));
  if (file == nullptr) return fail("cannot create");
  std::string text = std::string(kHeader) + "\n";
  for (const auto& [frame, entry] : table) {
    if (entry.eyes.empty()) continue;
    text += std::to_string(frame);
    for (const std::optional<EyePoint>& eye : SeenOf(entry)) {
      text += eye ? "," + std::to_string(eye->x) + "," + std::to_string(eye->y) : ",,";
    }
    text += "\n";
  }
  if (std::fwrite(text.data(), 1, text.size(), file.get()) != text.size()) return fail("cannot write");
  if (std::fclose(file.release()) != 0) return fail("cannot write");
  return true;
}

}  // namespace tiko::host
