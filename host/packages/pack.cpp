#include "host/packages/pack.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>

#include "host/packages/pictures.h"
#include "host/packages/step_names.h"
#include "host/paths.h"
#include "image/layout.h"
#include "package/format.h"

namespace tiko::packages {
namespace {

namespace fs = std::filesystem;

// Steps name pictures by a signed 16-bit number.
constexpr size_t kMaxPictures = 32768;
// How errors name a picture given in memory, where others name its file.
constexpr const char* kArrayName = "the array";

uint8_t LayoutCode(const std::string& name, const std::string& path) {
  if (name == "bgr24") return kFormatBgr24;
  if (name == "yuv422") return kFormatYuv422;
  if (name == "yuv420") return kFormatYuv420;
  throw JsonError(path, "unknown layout " + Quoted(name) + " (expected " + Choices({"bgr24", "yuv422", "yuv420"}) + ")");
}

uint8_t MaskCode(const std::string& name, const std::string& path) {
  if (name == "alpha") return kMaskByte;
  if (name == "bit") return kMaskBit;
  if (name == "none") return kMaskNone;
  throw JsonError(path, "unknown mask " + Quoted(name) + " (expected " + Choices({"alpha", "bit", "none"}) + ")");
}

const host::RgbaImage* ArrayOf(const PictureArrays& arrays, size_t index) {
  const auto found = arrays.find(index);
  return found == arrays.end() ? nullptr : &found->second;
}

// The stored pixels that unpack kept beside the PNG, checked against the PNG:
// a PNG edited since would otherwise lose its edit without a word.
std::vector<uint8_t> StoredPixels(const std::string& raw, const std::string& png, const host::RgbaImage& rgba,
                                  uint8_t layout, uint8_t mask, uint8_t threshold, const std::string& path) {
  const std::string advice = " (delete it to pack the PNG's colours)";
  std::vector<uint8_t> stored;
  try {
    stored = ReadInput(raw);
  } catch (const Error& e) {
    throw JsonError(path, e.what());
  }
  const int64_t needed = PixelDataSize(layout, rgba.width, rgba.height);
  if (static_cast<int64_t>(stored.size()) != needed) {
    throw JsonError(path, raw + " no longer matches " + png + ": it holds " + std::to_string(stored.size()) +
                              " bytes, a " + std::to_string(rgba.width) + " x " + std::to_string(rgba.height) + " " +
                              PixelFormatName(layout) + " picture needs " + std::to_string(needed) + advice);
  }
  if (const auto at = FirstChangedPixel(rgba, stored, layout, mask, threshold)) {
    throw JsonError(path, raw + " no longer matches " + png + ": the pixel at " + std::to_string(at->x) + ", " +
                              std::to_string(at->y) + " has other colours" + advice);
  }
  return stored;
}

// A picture given in memory, checked as a PNG file's header is.
host::RgbaImage ArrayPicture(const host::RgbaImage& array, uint8_t layout, uint8_t mask) {
  if (array.width < 1 || array.height < 1) {
    throw Error(std::string(kArrayName) + ": " + std::to_string(array.width) + " x " +
                std::to_string(array.height) + " pixels; a picture has at least one pixel");
  }
  CheckPictureSize(kArrayName, array.width, array.height, layout, mask);
  if (array.pixels.size() != size_t(array.width) * size_t(array.height) * 4) {
    throw Error(std::string(kArrayName) + ": its pixels are not " + std::to_string(array.width) + " x " +
                std::to_string(array.height) + " RGBA");
  }
  return array;
}

authoring::PictureDesc PackPicture(const Json& json, const std::string& path, const fs::path& base,
                                   const host::RgbaImage* array) {
  OnlyKeys(json, path, {"name", "file", "layout", "mask", "threshold", "compress", "pixels"});
  const std::string file = array != nullptr ? kArrayName : Text(Member(json, path, "file"), path + ".file");
  const uint8_t layout = json.contains("layout") ? LayoutCode(Text(json["layout"], path + ".layout"), path + ".layout")
                                                 : kFormatBgr24;
  const uint8_t mask = json.contains("mask") ? MaskCode(Text(json["mask"], path + ".mask"), path + ".mask")
                                             : kMaskByte;
  const auto threshold =
      static_cast<uint8_t>(json.contains("threshold") ? Integer(json["threshold"], path + ".threshold", 1, 255) : 128);
  bool compress = true;
  if (json.contains("compress")) {
    if (!json["compress"].is_boolean()) throw JsonError(path + ".compress", "expected true or false");
    compress = json["compress"].get<bool>();
  }

  const std::string png = array != nullptr ? file : (base / file).string();
  host::RgbaImage rgba;
  try {
    rgba = array != nullptr ? ArrayPicture(*array, layout, mask) : ReadPicturePng(png, layout, mask);
  } catch (const Error& e) {
    throw JsonError(path + ".file", e.what());
  }
  std::vector<uint8_t> stored;
  if (json.contains("pixels")) {
    // The exact stored pixels, so that a package in a YUV layout survives
    // the trip unchanged.
    const std::string raw = (base / Text(json["pixels"], path + ".pixels")).string();
    stored = StoredPixels(raw, png, rgba, layout, mask, threshold, path + ".pixels");
  }
  try {
    return PictureFromRgba(rgba, layout, mask, threshold, compress, json.contains("pixels") ? &stored : nullptr);
  } catch (const authoring::PackageError& e) {
    throw JsonError(path, e.what());
  } catch (const Error& e) {
    throw JsonError(path, e.what());
  }
}

authoring::ActorDesc PackActor(const Json& json, const std::string& path, const PictureNames& names) {
  OnlyKeys(json, path, {"name", "start", "steps"});
  authoring::ActorDesc actor;
  const auto name = host::Utf8ToUtf16(Text(Member(json, path, "name"), path + ".name"));
  if (!name || name->size() > kActorNameUnits) throw JsonError(path + ".name", "expected at most 12 characters");
  actor.name = *name;
  const Json& steps = Member(json, path, "steps");
  if (!steps.is_array()) throw JsonError(path + ".steps", "expected an array");
  const auto count = static_cast<int32_t>(std::min<size_t>(steps.size(), INT32_MAX));
  for (int32_t k = 0; k < count; ++k) {
    const std::string at = path + ".steps[" + std::to_string(k) + "]";
    actor.steps.push_back(StepFromJson(steps[static_cast<size_t>(k)], at, names, StepPlace{k, count}));
  }
  actor.initialStep = actor.steps.empty() ? -1 : 0;
  if (json.contains("start")) {
    const Json& start = json["start"];
    if (start.is_string() && start.get<std::string>() == "hidden") {
      actor.initialStep = -1;
    } else if (count == 0) {
      throw JsonError(path + ".start", "expected \"hidden\": the actor has no steps");
    } else {
      try {
        actor.initialStep = static_cast<int32_t>(Integer(start, path + ".start", 0, count - 1));
      } catch (const JsonError&) {
        throw JsonError(path + ".start", "expected \"hidden\" or a step index from 0 to " + std::to_string(count - 1));
      }
    }
  }
  return actor;
}

}  // namespace

Json ParseScript(const std::vector<uint8_t>& bytes, const std::string& name) {
  const std::string text(bytes.begin(), bytes.end());
  try {
    return Json::parse(text);
  } catch (const Json::parse_error& e) {
    // The parser counts bytes from 1 and stops one past the byte at fault.
    const size_t at = std::min<size_t>(e.byte == 0 ? 0 : e.byte - 1, text.size());
    const size_t lineStart = at == 0 ? 0 : text.rfind('\n', at - 1) + 1;
    const size_t line = 1 + static_cast<size_t>(std::count(text.begin(), text.begin() + static_cast<long>(at), '\n'));
    // Its message reads "[json...] parse error at line L, column C: cause";
    // the place is given here the way compilers give it.
    std::string cause = e.what();
    const size_t colon = cause.find(": ", cause.find("parse error"));
    if (colon != std::string::npos) cause = cause.substr(colon + 2);
    throw Error(name + ":" + std::to_string(line) + ":" + std::to_string(at - lineStart + 1) +
                ": not valid JSON: " + cause);
  }
}

std::vector<host::FileRole> ScriptFiles(const Json& root, const std::string& base, const PictureArrays& arrays) {
  std::vector<host::FileRole> files;
  if (!root.is_object() || !root.contains("pictures") || !root["pictures"].is_array()) return files;
  const Json& pictures = root["pictures"];
  for (size_t i = 0; i < pictures.size(); ++i) {
    if (!pictures[i].is_object()) continue;
    for (const char* key : {"file", "pixels"}) {
      if (ArrayOf(arrays, i) != nullptr && std::string(key) == "file") continue;
      if (pictures[i].contains(key) && pictures[i][key].is_string()) {
        files.push_back({"pictures[" + std::to_string(i) + "]." + key,
                         (fs::path(base) / pictures[i][key].get<std::string>()).string()});
      }
    }
  }
  return files;
}

authoring::PackageDesc PackScript(const Json& root, const std::string& base, const PictureArrays& arrays) {
  OnlyKeys(root, "(top)", {"pictures", "actors", "defaultPicture"});
  authoring::PackageDesc desc;
  PictureNames names;
  const Json& pictures = Member(root, "(top)", "pictures");
  if (!pictures.is_array()) throw JsonError("pictures", "expected an array");
  if (pictures.size() > kMaxPictures) {
    throw JsonError("pictures", "a package holds at most " + std::to_string(kMaxPictures) +
                                    " pictures (steps name them by the numbers 0 to " +
                                    std::to_string(kMaxPictures - 1) + ")");
  }
  for (size_t i = 0; i < pictures.size(); ++i) {
    const std::string path = "pictures[" + std::to_string(i) + "]";
    const std::string name = Text(Member(pictures[i], path, "name"), path + ".name");
    if (std::find(names.begin(), names.end(), name) != names.end()) {
      throw JsonError(path + ".name", "a picture named " + Quoted(name) + " comes earlier");
    }
    names.push_back(name);
  }
  for (size_t i = 0; i < pictures.size(); ++i) {
    desc.pictures.push_back(
        PackPicture(pictures[i], "pictures[" + std::to_string(i) + "]", fs::path(base), ArrayOf(arrays, i)));
  }
  desc.defaultPicture = DefaultPictureFromJson(root.contains("defaultPicture") ? root["defaultPicture"] : Json(nullptr),
                                               "defaultPicture", names);
  const Json& actors = Member(root, "(top)", "actors");
  if (!actors.is_array()) throw JsonError("actors", "expected an array");
  for (size_t i = 0; i < actors.size(); ++i) {
    desc.actors.push_back(PackActor(actors[i], "actors[" + std::to_string(i) + "]", names));
  }
  return desc;
}

void Pack(const PackJob& job) {
  static const PictureArrays kNoArrays;
  const PictureArrays& arrays = job.arrays != nullptr ? *job.arrays : kNoArrays;
  std::vector<host::FileRole> reads;
  if (!job.scriptFile.path.empty()) reads.push_back(job.scriptFile);
  for (host::FileRole& file : ScriptFiles(*job.script, job.base, arrays)) reads.push_back(std::move(file));
  host::RefuseSameFiles(reads, {job.output});
  host::CheckWritable(job.output.path);
  const std::string prefix = job.scriptFile.path.empty() ? "" : job.scriptFile.path + ": ";
  std::vector<uint8_t> package;
  try {
    package = authoring::WritePackage(PackScript(*job.script, job.base, arrays));
  } catch (const JsonError& e) {
    throw Error(prefix + e.what());
  } catch (const authoring::PackageError& e) {
    throw Error(prefix + e.what());
  }
  host::WriteFileAtomically(job.output.path, package);
}

}  // namespace tiko::packages
