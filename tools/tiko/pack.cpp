// tiko pack / tiko unpack: packages from PNG pictures and a JSON script, and
// back.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "codec/decoder.h"
#include "commands.h"
#include "host/paths.h"
#include "host/rgba_png.h"
#include "image/convert.h"
#include "image/layout.h"
#include "package/heap.h"
#include "package/writer.h"
#include "pictures.h"
#include "script_json.h"
#include "step_names.h"

namespace tiko::tool {
namespace {

namespace fs = std::filesystem;

constexpr int32_t kMaxPictureSide = 65535;

uint8_t LayoutCode(const std::string& name, const std::string& path) {
  if (name == "bgr24") return kFormatBgr24;
  if (name == "yuv422") return kFormatYuv422;
  if (name == "yuv420") return kFormatYuv420;
  throw JsonError(path, "unknown layout \"" + name + "\" (expected \"bgr24\", \"yuv422\" or \"yuv420\")");
}

uint8_t MaskCode(const std::string& name, const std::string& path) {
  if (name == "alpha") return kMaskByte;
  if (name == "bit") return kMaskBit;
  if (name == "none") return kMaskNone;
  throw JsonError(path, "unknown mask \"" + name + "\" (expected \"alpha\", \"bit\" or \"none\")");
}

const char* MaskWord(uint8_t kind) { return kind == kMaskByte ? "alpha" : (kind == kMaskBit ? "bit" : "none"); }

authoring::PictureDesc PackPicture(const Json& json, const std::string& path, const fs::path& base) {
  OnlyKeys(json, path, {"name", "file", "layout", "mask", "threshold", "compress", "pixels"});
  const std::string file = Text(Member(json, path, "file"), path + ".file");
  const uint8_t layout = json.contains("layout") ? LayoutCode(Text(json["layout"], path + ".layout"), path + ".layout")
                                                 : kFormatBgr24;
  const uint8_t mask = json.contains("mask") ? MaskCode(Text(json["mask"], path + ".mask"), path + ".mask")
                                             : kMaskByte;
  const int64_t threshold = json.contains("threshold") ? Integer(json["threshold"], path + ".threshold", 1, 255) : 128;
  bool compress = true;
  if (json.contains("compress")) {
    if (!json["compress"].is_boolean()) throw JsonError(path + ".compress", "expected true or false");
    compress = json["compress"].get<bool>();
  }

  const std::string png = (base / file).string();
  std::string error;
  const auto rgba = host::ReadPngRgba(png, kMaxPictureSide, &error);
  if (!rgba) throw Failure{png + ": " + error};
  std::vector<uint8_t> stored;
  if (json.contains("pixels")) {
    // The exact stored pixels that unpack kept beside the PNG, so that a
    // package in a YUV layout survives the trip unchanged.
    const std::string raw = (base / Text(json["pixels"], path + ".pixels")).string();
    try {
      stored = authoring::ReadFileBytes(raw);
    } catch (const authoring::PackageError& e) {
      throw Failure{e.what()};
    }
    const int64_t needed = PixelDataSize(layout, rgba->width, rgba->height);
    if (static_cast<int64_t>(stored.size()) != needed) {
      throw JsonError(path + ".pixels", raw + " holds " + std::to_string(stored.size()) +
                                            " bytes, the picture needs " + std::to_string(needed));
    }
  }
  try {
    return PictureFromRgba(*rgba, layout, mask, static_cast<uint8_t>(threshold), compress,
                           json.contains("pixels") ? &stored : nullptr);
  } catch (const authoring::PackageError& e) {
    throw JsonError(path, e.what());
  }
}

authoring::PackageDesc PackScript(const Json& root, const fs::path& base) {
  OnlyKeys(root, "(top)", {"pictures", "actors", "defaultPicture"});
  authoring::PackageDesc desc;
  PictureNames names;
  const Json& pictures = Member(root, "(top)", "pictures");
  if (!pictures.is_array()) throw JsonError("pictures", "expected an array");
  for (size_t i = 0; i < pictures.size(); ++i) {
    const std::string path = "pictures[" + std::to_string(i) + "]";
    const std::string name = Text(Member(pictures[i], path, "name"), path + ".name");
    if (std::find(names.begin(), names.end(), name) != names.end()) {
      throw JsonError(path + ".name", "a picture named \"" + name + "\" comes earlier");
    }
    names.push_back(name);
  }
  if (names.size() > static_cast<size_t>(kMaxPictureSide)) throw JsonError("pictures", "too many pictures");
  for (size_t i = 0; i < pictures.size(); ++i) {
    desc.pictures.push_back(PackPicture(pictures[i], "pictures[" + std::to_string(i) + "]", base));
  }

  desc.defaultPicture = 0xFFFFFFFFu;
  if (root.contains("defaultPicture") && root["defaultPicture"].is_number_integer()) {
    // A number is kept as it stands, also one outside the table.
    desc.defaultPicture = static_cast<uint32_t>(Integer(root["defaultPicture"], "defaultPicture", 0, 0xFFFFFFFF));
  } else if (root.contains("defaultPicture") && !root["defaultPicture"].is_null()) {
    const std::string name = Text(root["defaultPicture"], "defaultPicture");
    const auto it = std::find(names.begin(), names.end(), name);
    if (it == names.end()) throw JsonError("defaultPicture", "no picture named \"" + name + "\"");
    desc.defaultPicture = static_cast<uint32_t>(it - names.begin());
  }

  const Json& actors = Member(root, "(top)", "actors");
  if (!actors.is_array()) throw JsonError("actors", "expected an array");
  for (size_t i = 0; i < actors.size(); ++i) {
    const std::string path = "actors[" + std::to_string(i) + "]";
    OnlyKeys(actors[i], path, {"name", "start", "steps"});
    authoring::ActorDesc actor;
    const auto name = host::Utf8ToUtf16(Text(Member(actors[i], path, "name"), path + ".name"));
    if (!name || name->size() > kActorNameUnits) throw JsonError(path + ".name", "expected at most 12 characters");
    actor.name = *name;
    const Json& steps = Member(actors[i], path, "steps");
    if (!steps.is_array()) throw JsonError(path + ".steps", "expected an array");
    for (size_t k = 0; k < steps.size(); ++k) {
      actor.steps.push_back(StepFromJson(steps[k], path + ".steps[" + std::to_string(k) + "]", names));
    }
    actor.initialStep = actor.steps.empty() ? -1 : 0;
    if (actors[i].contains("start")) {
      const Json& start = actors[i]["start"];
      if (start.is_string() && start.get<std::string>() == "hidden") {
        actor.initialStep = -1;
      } else if (!start.is_number_integer() || start.get<int64_t>() < 0 ||
                 start.get<int64_t>() >= static_cast<int64_t>(actor.steps.size())) {
        throw JsonError(path + ".start", "expected \"hidden\" or a step index from 0 to " +
                                             std::to_string(static_cast<int64_t>(actor.steps.size()) - 1));
      } else {
        actor.initialStep = static_cast<int32_t>(start.get<int64_t>());
      }
    }
    desc.actors.push_back(std::move(actor));
  }
  return desc;
}

int RunPack(const std::string& spec, const std::string& output) {
  try {
    std::ifstream in(spec);
    if (!in) throw Failure{spec + ": cannot open"};
    std::stringstream text;
    text << in.rdbuf();
    Json root;
    try {
      root = Json::parse(text.str());
    } catch (const Json::parse_error& e) {
      // Count lines up to the byte the parser stopped at.
      const std::string s = text.str();
      const size_t at = std::min<size_t>(e.byte == 0 ? 0 : e.byte - 1, s.size());
      const size_t line = 1 + std::count(s.begin(), s.begin() + static_cast<long>(at), '\n');
      throw Failure{spec + ":" + std::to_string(line) + ": not valid JSON"};
    }
    const authoring::PackageDesc desc = PackScript(root, fs::path(spec).parent_path());
    WriteAtomically(output, authoring::WritePackage(desc));
  } catch (const JsonError& e) {
    PrintError(spec + ": " + e.what());
    return kExitFailure;
  } catch (const Failure& f) {
    PrintError(f.message);
    return kExitFailure;
  } catch (const authoring::PackageError& e) {
    PrintError(spec + ": " + e.what());
    return kExitFailure;
  }
  return 0;
}

// One-key objects such as {"set": 1500} read better on one line: folds
// "{\n<indent>"key": scalar\n<indent>}" into "{"key": scalar}".
std::string CompactJson(const std::string& text) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '{' && i + 1 < text.size() && text[i + 1] == '\n') {
      const size_t keyStart = text.find_first_not_of(' ', i + 2);
      const size_t lineEnd = text.find('\n', keyStart);
      if (keyStart != std::string::npos && lineEnd != std::string::npos && text[keyStart] == '"') {
        const std::string member = text.substr(keyStart, lineEnd - keyStart);
        const size_t close = text.find_first_not_of(' ', lineEnd + 1);
        // A member whose value opens an object or array spans more lines.
        const bool scalar = !member.empty() && member.back() != '{' && member.back() != '[' && member.back() != ',';
        if (close != std::string::npos && text[close] == '}' && scalar) {
          out += "{" + member + "}";
          i = close + 1;
          continue;
        }
      }
    }
    out.push_back(text[i++]);
  }
  return out;
}

int RunUnpack(const std::string& package, const std::string& dir) {
  try {
    authoring::PackageDesc desc;
    try {
      desc = authoring::ReadPackage(authoring::ReadFileBytes(package));
    } catch (const authoring::PackageError& e) {
      const std::string what = e.what();
      throw Failure{what.rfind(package, 0) == 0 ? what : package + ": " + what};
    }
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) throw Failure{dir + ": cannot create the directory"};

    PictureNames names;
    for (size_t i = 0; i < desc.pictures.size(); ++i) names.push_back("picture" + std::to_string(i));
    Json root;
    Json pictures = Json::array();
    for (size_t i = 0; i < desc.pictures.size(); ++i) {
      const authoring::PictureDesc& picture = desc.pictures[i];
      const PictureEntry& e = picture.entry;
      const std::string what = package + ": picture " + std::to_string(i);
      if (picture.missing) throw Failure{what + ": its data lie beyond the end of the file"};
      if (!IsPixelFormat(e.pixelFormat) || !IsMaskKind(e.maskKind)) throw Failure{what + ": unknown layout"};
      const int32_t w = e.width, h = e.height;
      const int64_t pixelSize = PixelDataSize(e.pixelFormat, w, h);
      if (pixelSize != e.pixelDataSize || MaskDataSize(e.maskKind, w, h) != e.maskDataSize ||
          int64_t{e.pixelDataSize} + e.maskDataSize != e.totalSize) {
        throw Failure{what + ": sizes disagree with its layout"};
      }
      std::vector<uint8_t> data(e.totalSize, 0);
      if (picture.compressed) {
        // Bytes a short block does not reach stay 0, as in the player.
        if (DecodeBlock(picture.stored.data(), static_cast<uint32_t>(picture.stored.size()), data.data(),
                        e.totalSize) == 0) {
          throw Failure{what + ": its compressed block is damaged"};
        }
      } else {
        data = picture.stored;
      }
      const std::vector<uint8_t> stored(data.begin(), data.begin() + pixelSize);
      const host::RgbaImage rgba = RgbaFromPicture(data, e.pixelFormat, e.maskKind, w, h);
      const std::string png = names[i] + ".png";
      std::string error;
      const std::string pngPath = (fs::path(dir) / png).string();
      if (!host::WritePngRgba(pngPath + ".partial", rgba, e.maskKind != kMaskNone, &error)) {
        throw Failure{pngPath + ": " + error};
      }
      fs::rename(pngPath + ".partial", pngPath, ec);
      if (ec) throw Failure{pngPath + ": cannot write"};
      Json j{{"name", names[i]}, {"file", png}, {"layout", PixelFormatName(e.pixelFormat)},
             {"mask", MaskWord(e.maskKind)}, {"compress", picture.compressed}};
      if (e.pixelFormat != kFormatBgr24) {
        // YUV pixels do not come back exactly from the PNG's colours: keep them.
        const std::string raw = names[i] + "." + PixelFormatName(e.pixelFormat);
        WriteAtomically((fs::path(dir) / raw).string(), stored);
        j["pixels"] = raw;
      }
      pictures.push_back(std::move(j));
    }
    root["pictures"] = std::move(pictures);
    root["defaultPicture"] = desc.defaultPicture < names.size() ? Json(names[desc.defaultPicture])
                             : desc.defaultPicture == 0xFFFFFFFFu ? Json(nullptr)
                                                                  : Json(desc.defaultPicture);
    Json actors = Json::array();
    for (const authoring::ActorDesc& a : desc.actors) {
      Json actor;
      const auto name = host::Utf16ToUtf8(a.name);
      if (!name) throw Failure{package + ": an actor's name is not valid UTF-16"};
      actor["name"] = *name;
      if (a.initialStep >= 0 && a.initialStep < static_cast<int32_t>(a.steps.size())) {
        actor["start"] = a.initialStep;
      } else {
        actor["start"] = "hidden";
      }
      Json steps = Json::array();
      for (const ActorStep& s : a.steps) steps.push_back(StepToJson(s, names));
      actor["steps"] = std::move(steps);
      actors.push_back(std::move(actor));
    }
    root["actors"] = std::move(actors);
    const std::string text = CompactJson(root.dump(2)) + "\n";
    WriteAtomically((fs::path(dir) / "package.json").string(), std::vector<uint8_t>(text.begin(), text.end()));
  } catch (const Failure& f) {
    PrintError(f.message);
    return kExitFailure;
  }
  return 0;
}

}  // namespace

Runner AddPack(CLI::App& app) {
  auto* cmd = app.add_subcommand("pack", "Build a package from a JSON script and PNG pictures");
  auto spec = std::make_shared<std::string>();
  auto output = std::make_shared<std::string>();
  cmd->add_option("SPEC", *spec, "JSON description of the pictures and actors")->required();
  cmd->add_option("-o,--output", *output, "Package file to write")->required();
  return [spec, output]() { return RunPack(*spec, *output); };
}

Runner AddUnpack(CLI::App& app) {
  auto* cmd = app.add_subcommand("unpack", "Write a package's pictures as PNG and its script as JSON");
  auto package = std::make_shared<std::string>();
  auto dir = std::make_shared<std::string>();
  cmd->add_option("PACKAGE", *package, "Package file")->required();
  cmd->add_option("-o,--output", *dir, "Directory to write package.json and the pictures into")->required();
  return [package, dir]() { return RunUnpack(*package, *dir); };
}

}  // namespace tiko::tool
