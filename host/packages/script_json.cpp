#include "host/packages/script_json.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

#include "authoring/writer.h"
#include "host/packages/step_names.h"

namespace tiko::packages {
namespace {

constexpr int64_t kMin16 = -32768, kMax16 = 32767;
constexpr uint32_t kNoDefaultPicture = 0xFFFFFFFFu;

// "{"set": n}" and the like, for the lists of valid forms in errors.
std::string ModeForm(const char* mode) { return "{\"" + std::string(mode) + "\": n}"; }

std::string JoinChoices(const std::vector<std::string>& forms) {
  std::string list;
  for (size_t i = 0; i < forms.size(); ++i) {
    if (i > 0) list += i + 1 == forms.size() ? " or " : ", ";
    list += forms[i];
  }
  return list;
}

// The valid forms of a field: the plain words, then the modes with a value.
std::string Forms(std::initializer_list<const char*> words, std::initializer_list<const char*> modes) {
  std::vector<std::string> forms;
  for (const char* w : words) forms.push_back("\"" + std::string(w) + "\"");
  for (const char* m : modes) forms.push_back(ModeForm(m));
  return JoinChoices(forms);
}

// A mode with a value: {"<mode>": <value>}. Returns the mode's name;
// `expected` lists every form the field takes.
std::string ModeWithValue(const Json& value, const std::string& path, int64_t min, int64_t max, int64_t* out,
                          std::initializer_list<const char*> modes, const std::string& expected) {
  if (!value.is_object() || value.size() != 1) throw JsonError(path, "expected " + expected);
  const std::string mode = value.begin().key();
  bool known = false;
  for (const char* m : modes) known |= mode == m;
  if (!known) throw JsonError(path, "unknown mode " + Quoted(mode) + " (expected " + expected + ")");
  *out = Integer(value.begin().value(), path, min, max);
  return mode;
}

// A jump or skip must land on a step of the script: the player would take
// the last step for one that does not, which is never what was meant.
void CheckTarget(uint32_t mode, int64_t param, const std::string& path, StepPlace place) {
  if (mode != kAdvanceJump && mode != kAdvanceSkip) return;
  const int64_t target = mode == kAdvanceJump ? param : place.index + param;
  if (target >= 0 && target < place.count) return;
  const std::string move = mode == kAdvanceJump ? "jumps to step " + std::to_string(target)
                                                : "skips from step " + std::to_string(place.index) + " to step " +
                                                      std::to_string(target);
  throw JsonError(path, target < 0 ? move + ", before the first step (0)"
                                   : move + ", past the last step (" + std::to_string(place.count - 1) + ")");
}

// "next", "hide", or {"jump"|"skip"|"repeat": n}; with `alternate`, "none".
void Advance(const Json& value, const std::string& path, bool alternate, StepPlace place, uint32_t* mode,
             int16_t* param) {
  const std::string expected = alternate ? Forms({"none", "next", "hide"}, {"jump", "skip", "repeat"})
                                         : Forms({"next", "hide"}, {"jump", "skip", "repeat"});
  if (value.is_string()) {
    const std::string name = value.get<std::string>();
    if (name == "next") {
      *mode = 0;
    } else if (name == "hide") {
      *mode = kAdvanceHide;
    } else if (alternate && name == "none") {
      *mode = kAltAdvanceNone;
    } else {
      throw JsonError(path, "unknown advance " + Quoted(name) + " (expected " + expected + ")");
    }
    return;
  }
  int64_t p = 0;
  const std::string name = ModeWithValue(value, path, kMin16, kMax16, &p, {"jump", "skip", "repeat"}, expected);
  *mode = name == "jump" ? kAdvanceJump : (name == "skip" ? kAdvanceSkip : kAdvanceRepeat);
  CheckTarget(*mode, p, path, place);
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
  const std::string expected = Forms({"proportional"}, {"set", "add"});
  if (value.is_string() && value.get<std::string>() == "proportional") {
    *mode = kSizeProportional;
    return;
  }
  if (value.is_string()) {
    throw JsonError(path, "unknown size " + Quoted(value.get<std::string>()) + " (expected " + expected + ")");
  }
  int64_t v = 0;
  *mode = ModeWithValue(value, path, kMin16, kMax16, &v, {"set", "add"}, expected) == "set" ? kSizeSet : kSizeAdd;
  *field = static_cast<int16_t>(v);
}

void Position(const Json& value, const std::string& path, uint32_t* mode, int16_t* field) {
  int64_t v = 0;
  const std::string name = ModeWithValue(value, path, kMin16, kMax16, &v, {"set", "add", "wrap", "clamp", "bounce"},
                                         Forms({}, {"set", "add", "wrap", "clamp", "bounce"}));
  for (uint32_t m = kPosSet; m <= kPosBounce; ++m) {
    if (name == PositionModeName(m)) *mode = m;
  }
  *field = static_cast<int16_t>(v);
}

// A picture by its number: one of the table's.
int64_t PictureNumber(const Json& value, const std::string& path, const PictureNames& pictures) {
  if (value.is_number_integer()) {
    const bool negative = !value.is_number_unsigned() && value.get<int64_t>() < 0;
    if (!negative && value.get<uint64_t>() < pictures.size()) return static_cast<int64_t>(value.get<uint64_t>());
  }
  throw JsonError(path, "no picture " + value.dump() +
                            (pictures.empty() ? " (there are no pictures)"
                                              : " (the pictures are 0 to " + std::to_string(pictures.size() - 1) + ")"));
}

int64_t PictureByName(const Json& value, const std::string& path, const PictureNames& pictures) {
  const std::string name = Text(value, path);
  const auto it = std::find(pictures.begin(), pictures.end(), name);
  if (it == pictures.end()) throw JsonError(path, "no picture named " + Quoted(name));
  return it - pictures.begin();
}

}  // namespace

const Json& Member(const Json& object, const std::string& path, const char* key) {
  if (!object.is_object()) throw JsonError(path, "expected an object");
  if (!object.contains(key)) throw JsonError(path, std::string("missing \"") + key + "\"");
  return object.at(key);
}

int64_t Integer(const Json& value, const std::string& path, int64_t min, int64_t max) {
  // An integer beyond 64 bits comes as an unsigned or a floating number.
  const bool fits = value.is_number_integer() && !(value.is_number_unsigned() && value.get<uint64_t>() > INT64_MAX);
  if (!fits || value.get<int64_t>() < min || value.get<int64_t>() > max) {
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
    if (!ok) throw JsonError(path + "." + item.key(), "unknown field (expected " + Choices(known) + ")");
  }
}

std::string Quoted(const std::string& text) {
  return Json(text).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string Choices(std::initializer_list<const char*> names) { return Forms(names, {}); }

ActorStep StepFromJson(const Json& json, const std::string& path, const PictureNames& pictures, StepPlace place) {
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
  if (json.contains("advance")) {
    Advance(json["advance"], path + ".advance", false, place, &modes.advance, &step.advanceParam);
  }
  if (json.contains("alternate")) {
    Advance(json["alternate"], path + ".alternate", true, place, &modes.altAdvance, &step.altAdvanceParam);
  }
  if (json.contains("picture")) {
    const Json& p = json["picture"];
    const std::string at = path + ".picture";
    modes.pictureChange = 1;
    if (p.is_null()) {
      step.pictureIndex = -1;
    } else if (p.is_number()) {
      step.pictureIndex = static_cast<int16_t>(PictureNumber(p, at, pictures));
    } else if (p.is_string()) {
      step.pictureIndex = static_cast<int16_t>(PictureByName(p, at, pictures));
    } else {
      throw JsonError(at, "expected a picture name, a picture number or null");
    }
  }
  if (json.contains("width")) Size(json["width"], path + ".width", &modes.width, &step.width);
  if (json.contains("height")) Size(json["height"], path + ".height", &modes.height, &step.height);
  if (json.contains("x")) Position(json["x"], path + ".x", &modes.x, &step.x);
  if (json.contains("y")) Position(json["y"], path + ".y", &modes.y, &step.y);
  if (json.contains("opacity")) {
    int64_t v = 0;
    const std::string mode =
        ModeWithValue(json["opacity"], path + ".opacity", -128, 127, &v, {"set", "add"}, Forms({}, {"set", "add"}));
    modes.opacity = mode == "set" ? kOpacitySet : kOpacityAddClamp;
    step.opacity = static_cast<int8_t>(v);
  }
  if (json.contains("cue")) {
    const std::string cue = Text(json["cue"], path + ".cue");
    if (cue.empty() || cue.size() > 3) throw JsonError(path + ".cue", "expected a name of 1 to 3 characters");
    for (const char c : cue) {
      // Cues name wave files in the package's own folder: printable ASCII,
      // and no folder separators that would lead out of it.
      if (c < 0x20 || c > 0x7E || c == '/' || c == '\\') {
        throw JsonError(path + ".cue", "expected printable ASCII characters other than / and \\");
      }
    }
    step.cueMarker = kCueMarker;
    std::memcpy(step.cueName, cue.data(), cue.size());
  }
  step.flags = authoring::MakeStepFlags(modes);
  return step;
}

Json StepToJson(const ActorStep& step, const PictureNames& pictures, StepPlace place) {
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
    const ActorStep back = StepFromJson(j, "", pictures, place);
    if (std::memcmp(&back, &step, sizeof step) == 0) return j;
  } catch (const JsonError&) {
    // Not expressible in words (a cue that is no file name, a jump out of
    // the script, a picture outside the table): raw below.
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

uint32_t DefaultPictureFromJson(const Json& json, const std::string& path, const PictureNames& pictures) {
  if (json.is_null()) return kNoDefaultPicture;
  if (json.is_string()) return static_cast<uint32_t>(PictureByName(json, path, pictures));
  if (json.is_number()) return static_cast<uint32_t>(PictureNumber(json, path, pictures));
  if (json.is_object() && json.contains("raw")) {
    // A header value as some other tool wrote it, kept byte for byte.
    OnlyKeys(json, path, {"raw"});
    return static_cast<uint32_t>(Integer(json["raw"], path + ".raw", 0, kNoDefaultPicture));
  }
  throw JsonError(path, "expected a picture name, a picture number, null or {\"raw\": n}");
}

Json DefaultPictureToJson(uint32_t index, const PictureNames& pictures) {
  if (index < pictures.size()) return pictures[index];
  if (index == kNoDefaultPicture) return nullptr;
  return Json{{"raw", index}};
}

}  // namespace tiko::packages
