#include "eyes_csv.h"

#include <charconv>
#include <fstream>
#include <stdexcept>

namespace tiko::tool {
namespace {

constexpr size_t kFieldCount = 5;  // frame, x1, y1, x2, y2
constexpr const char* kHeader = "frame,x1,y1,x2,y2";

std::vector<std::string> SplitFields(const std::string& line) {
  std::vector<std::string> fields(1);
  for (const char c : line) {
    if (c == ',') {
      fields.emplace_back();
    } else if (c != ' ' && c != '\t' && c != '\r') {
      fields.back().push_back(c);
    }
  }
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
    frame->eyes.push_back(host::EyePoint{*px, *py});
  }
  return std::nullopt;
}

}  // namespace

EyeTable ReadEyeFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot open eye file " + path);
  EyeTable table;
  std::string line;
  for (int64_t number = 1; std::getline(in, line); ++number) {
    const auto fail = [&](const std::string& what) {
      return std::runtime_error(path + ":" + std::to_string(number) + ": " + what);
    };
    const std::vector<std::string> fields = SplitFields(line);
    if (fields.size() == 1 && fields[0].empty()) continue;
    if (!fields[0].empty() && fields[0][0] == '#') continue;
    if (number == 1 && fields[0] == "frame") continue;
    if (fields.size() > kFieldCount) throw fail(std::string("expected ") + kHeader);
    const std::optional<int64_t> frame = ParseInteger<int64_t>(fields[0]);
    if (!frame || *frame < 0) throw fail("the frame must be a number from 0, got \"" + fields[0] + "\"");
    FrameEyes eyes;
    if (const std::optional<std::string> why = ParseEyes(fields, &eyes)) throw fail(*why);
    if (!table.emplace(*frame, std::move(eyes)).second) throw fail("frame " + fields[0] + " is listed twice");
  }
  if (in.bad()) throw std::runtime_error("cannot read eye file " + path);
  return table;
}

bool WriteEyeFile(const std::string& path, const EyeTable& table, std::string* error) {
  std::ofstream out(path);
  out << kHeader << "\n";
  for (const auto& [frame, entry] : table) {
    if (entry.eyes.empty()) continue;
    out << frame;
    for (size_t eye = 0; eye < 2; ++eye) {
      if (eye < entry.eyes.size()) {
        out << "," << entry.eyes[eye].x << "," << entry.eyes[eye].y;
      } else {
        out << ",,";
      }
    }
    out << "\n";
  }
  out.flush();
  if (!out) {
    if (error != nullptr) *error = "cannot write eye file " + path;
    return false;
  }
  return true;
}

}  // namespace tiko::tool
