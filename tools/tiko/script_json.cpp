#include "script_json.h"

#include <cstring>

#include "package/writer.h"
#include "step_names.h"

namespace tiko::tool {
namespace {

constexpr int64_t kMin16 = -32768, kMax16 = 32767;


// A mode with a value: {"<mode>": <value>}. Returns the mode's name.
std::string ModeWithValue(const Json& value, const std::string& path, int64_t min, int64_t max, int64_t* out,
                          std::initializer_list<const char*> modes) {
  std::string list;
  for (const char* m : modes) list += std::string(list.empty() ? "" : ", ") + "\"" + m + "\"";
  if (!value.is_object() || value.size() != 1) {
    throw JsonError(path, "expected an object with one of " + list);
  }
  const std::string mode = value.begin().key();
  bool known = false;
  for (const char* m : modes) known |= mode == m;
  if (!known) throw JsonError(path, "unknown mode \"" + mode + "\" (expected one of " + list + ")");
  const Json& v = value.begin().value();
  if (!v.is_number_integer() || v.get<int64_t>() < min || v.get<int64_t>() > max) {
    throw JsonError(path, "expected an integer from " + std::to_string(min) + " to " + std::to_string(max));
  }
  *out = v.get<int64_t>();
  return mode;
}

// "next", "hide", or {"jump"|"skip"|"repeat": n}; with `alternate`, "none".
void Advance(const Json& value, const std::string& path, bool alternate, uint32_t* mode, int16_t* param) {
  if (value.is_string()) {
    const std::string name = value.get<std::string>();
    if (name == "next") {
      *mode = 0;
    } else if (name == "hide") {
      *mode = kAdvanceHide;
    } else if (alternate && name == "none") {
      *mode = kAltAdvanceNone;
    } else {
      throw JsonError(path, "unknown advance \"" + name + "\"");
    }
    return;
  }
  int64_t p = 0;
  const std::string name = ModeWithValue(value, path, kMin16, kMax16, &p, {"jump", "skip", "repeat"});
  *mode = name == "jump" ? kAdvanceJump : (name == "skip" ? kAdvanceSkip : kAdvanceRepeat);
  *param = static_cast<int16_t>(p);
}

Json AdvanceJson(uint32_t mode, int16_t param) {
  switch (mode) {
    case kAdvanceJump: return Json{{"jump", param}};
    case kAdvanceSkip: return Json{{"skip", param}};
    case kAdvanceRepeat: return Json{{"repeat", param}};
    default: return AdvanceName(mode);
  }
}

void Size(const Json& value, const std::string& path, uint32_t* mode, int16_t* field) {
  if (value.is_string() && value.get<std::string>() == "proportional") {
    *mode = kSizeProportional;
    return;
  }
  if (value.is_string()) throw JsonError(path, "expected \"proportional\", {\"set\": n} or {\"add\": n}");
  int64_t v = 0;
  *mode = ModeWithValue(value, path, kMin16, kMax16, &v, {"set", "add"}) == "set" ? kSizeSet : kSizeAdd;
  *field = static_cast<int16_t>(v);
}

void Position(const Json& value, const std::string& path, uint32_t* mode, int16_t* field) {
  int64_t v = 0;
  const std::string name = ModeWithValue(value, path, kMin16, kMax16, &v, {"set", "add", "wrap", "clamp", "bounce"});
  const char* names[] = {"keep", "set", "add", "wrap", "clamp", "bounce"};
  for (uint32_t m = 1; m < 6; ++m) {
    if (name == names[m]) *mode = m;
  }
  *field = static_cast<int16_t>(v);
}

}  // namespace

const Json& Member(const Json& object, const std::string& path, const char* key) {
  if (!object.is_object() || !object.contains(key)) throw JsonError(path, std::string("missing \"") + key + "\"");
  return object.at(key);
}

int64_t Integer(const Json& value, const std::string& path, int64_t min, int64_t max) {
  if (!value.is_number_integer() || value.get<int64_t>() < min || value.get<int64_t>() > max) {
    throw JsonError(path, "expected an integer from " + std::to_string(min) + " to " + std::to_string(max));
  }
  return value.get<int64_t>();
}

std::string Text(const Json& value, const std::string& path) {
  if (!value.is_string()) throw JsonError(path, "expected a string");
  return value.get<std::string>();
}

void OnlyKeys(const Json& object, const std::string& path, std::initializer_list<const char*> known) {
  if (!object.is_object()) throw JsonError(path, "expected an object");
  for (const auto& item : object.items()) {
    bool ok = false;
    for (const char* k : known) ok |= item.key() == k;
    if (!ok) throw JsonError(path + "." + item.key(), "unknown field");
  }
}

ActorStep StepFromJson(const Json& json, const std::string& path, const PictureNames& pictures) {
  ActorStep step{};
  if (json.is_object() && json.contains("raw")) {
    OnlyKeys(json, path, {"raw"});
    const std::string hex = Text(json["raw"], path + ".raw");
    if (hex.size() != 2 * sizeof step || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
      throw JsonError(path + ".raw", "expected 48 hexadecimal digits");
    }
    uint8_t bytes[sizeof step];
    for (size_t i = 0; i < sizeof step; ++i) bytes[i] = static_cast<uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
    std::memcpy(&step, bytes, sizeof step);
    return step;
  }
  OnlyKeys(json, path, {"advance", "alternate", "picture", "width", "height", "x", "y", "opacity", "cue"});
  authoring::StepModes modes;
  if (json.contains("advance")) Advance(json["advance"], path + ".advance", false, &modes.advance, &step.advanceParam);
  if (json.contains("alternate")) {
    Advance(json["alternate"], path + ".alternate", true, &modes.altAdvance, &step.altAdvanceParam);
  }
  if (json.contains("picture")) {
    const Json& p = json["picture"];
    modes.pictureChange = 1;
    if (p.is_null()) {
      step.pictureIndex = -1;
    } else if (p.is_number_integer()) {
      step.pictureIndex = static_cast<int16_t>(Integer(p, path + ".picture", kMin16, kMax16));
    } else {
      const std::string name = Text(p, path + ".picture");
      const auto it = std::find(pictures.begin(), pictures.end(), name);
      if (it == pictures.end()) throw JsonError(path + ".picture", "no picture named \"" + name + "\"");
      step.pictureIndex = static_cast<int16_t>(it - pictures.begin());
    }
  }
  if (json.contains("width")) Size(json["width"], path + ".width", &modes.width, &step.width);
  if (json.contains("height")) Size(json["height"], path + ".height", &modes.height, &step.height);
  if (json.contains("x")) Position(json["x"], path + ".x", &modes.x, &step.x);
  if (json.contains("y")) Position(json["y"], path + ".y", &modes.y, &step.y);
  if (json.contains("opacity")) {
    int64_t v = 0;
    const std::string mode = ModeWithValue(json["opacity"], path + ".opacity", -128, 127, &v, {"set", "add"});
    modes.opacity = mode == "set" ? kOpacitySet : kOpacityAddClamp;
    step.opacity = static_cast<int8_t>(v);
  }
  if (json.contains("cue")) {
    const std::string cue = Text(json["cue"], path + ".cue");
    if (cue.empty() || cue.size() > 3) throw JsonError(path + ".cue", "expected a name of 1 to 3 characters");
    for (const char c : cue) {
      // Cues name files beside the package: printable ASCII only.
      if (c < 0x20 || c > 0x7E) throw JsonError(path + ".cue", "expected printable ASCII characters");
    }
    step.cueMarker = kCueMarker;
    std::memcpy(step.cueName, cue.data(), cue.size());
  }
  step.flags = authoring::MakeStepFlags(modes);
  return step;
}

Json StepToJson(const ActorStep& step, const PictureNames& pictures) {
  Json j = Json::object();
  if (AdvanceMode(step) != 0) j["advance"] = AdvanceJson(AdvanceMode(step), step.advanceParam);
  if (AltAdvanceMode(step) != kAltAdvanceNone) j["alternate"] = AdvanceJson(AltAdvanceMode(step), step.altAdvanceParam);
  if (PictureChange(step)) {
    const int32_t index = step.pictureIndex;
    if (index == -1) {
      j["picture"] = nullptr;
    } else if (index >= 0 && static_cast<size_t>(index) < pictures.size()) {
      j["picture"] = pictures[static_cast<size_t>(index)];
    } else {
      j["picture"] = index;
    }
  }
  const auto size = [&](const char* key, uint32_t mode, int16_t value) {
    if (mode == kSizeProportional) j[key] = "proportional";
    if (mode == kSizeSet || mode == kSizeAdd) j[key] = Json{{SizeModeName(mode), value}};
  };
  size("width", WidthMode(step), step.width);
  size("height", HeightMode(step), step.height);
  const auto position = [&](const char* key, uint32_t mode, int16_t value) {
    if (mode >= kPosSet && mode <= kPosBounce) j[key] = Json{{PositionModeName(mode), value}};
  };
  position("x", XMode(step), step.x);
  position("y", YMode(step), step.y);
  if (OpacityMode(step) == kOpacitySet || OpacityMode(step) == kOpacityAddClamp) {
    j["opacity"] = Json{{OpacityModeName(OpacityMode(step)), step.opacity}};
  }
  if (step.cueMarker == kCueMarker && step.cueName[0] != 0) {
    std::string cue;
    for (size_t i = 0; i < 3 && step.cueName[i] != 0; ++i) cue.push_back(step.cueName[i]);
    j["cue"] = cue;
  }
  // Only a form that packs back to the very same bytes will do.
  try {
    const ActorStep back = StepFromJson(j, "", pictures);
    if (std::memcmp(&back, &step, sizeof step) == 0) return j;
  } catch (const JsonError&) {
    // Not expressible in words (a cue that is no file name, say): raw below.
  }
  static const char* const kHex = "0123456789abcdef";
  std::string hex;
  const auto* bytes = reinterpret_cast<const uint8_t*>(&step);
  for (size_t i = 0; i < sizeof step; ++i) {
    hex.push_back(kHex[bytes[i] >> 4]);
    hex.push_back(kHex[bytes[i] & 15]);
  }
  return Json{{"raw", hex}};
}

}  // namespace tiko::tool
