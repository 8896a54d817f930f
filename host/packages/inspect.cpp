#include "host/packages/inspect.h"

#include <vector>

#include "authoring/writer.h"
#include "host/packages/step_names.h"
#include "host/paths.h"
#include "package/loader.h"

namespace tiko::packages {
namespace {

using nlohmann::ordered_json;

std::string Utf8Name(const std::u16string& name) {
  return host::Utf16ToUtf8(name).value_or("?");
}

std::string CueName(const ActorStep& step) {
  std::string name;
  for (size_t i = 0; i < 3 && step.cueName[i] != 0; ++i) name.push_back(step.cueName[i]);
  return name;
}

int32_t EyeKey(const std::u16string& name) {
  char16_t field[kActorNameUnits] = {};
  for (size_t i = 0; i < name.size() && i < kActorNameUnits; ++i) field[i] = name[i];
  if (ActorNameEquals(field, "$eye1")) return kEyeKeyFirst;
  if (ActorNameEquals(field, "$eye2")) return kEyeKeySecond;
  return 0;
}

ordered_json StepJson(const ActorStep& s, size_t index) {
  const auto mode = [](const char* name, uint32_t code, int32_t value) {
    return ordered_json{{"mode", name}, {"code", code}, {"value", value}};
  };
  ordered_json j;
  j["index"] = index;
  j["flags"] = s.flags;
  j["advance"] = {{"mode", AdvanceName(AdvanceMode(s))}, {"code", AdvanceMode(s)}, {"param", s.advanceParam}};
  j["altAdvance"] = {
      {"mode", AltAdvanceName(AltAdvanceMode(s))}, {"code", AltAdvanceMode(s)}, {"param", s.altAdvanceParam}};
  j["pictureChange"] = PictureChange(s) != 0;
  j["pictureIndex"] = s.pictureIndex;
  j["width"] = mode(SizeModeName(WidthMode(s)), WidthMode(s), s.width);
  j["height"] = mode(SizeModeName(HeightMode(s)), HeightMode(s), s.height);
  j["x"] = mode(PositionModeName(XMode(s)), XMode(s), s.x);
  j["y"] = mode(PositionModeName(YMode(s)), YMode(s), s.y);
  j["opacity"] = mode(OpacityModeName(OpacityMode(s)), OpacityMode(s), s.opacity);
  j["cue"] = s.cueMarker == kCueMarker ? ordered_json(CueName(s)) : ordered_json(nullptr);
  return j;
}

ordered_json PackageJson(const std::string& path, size_t fileSize, const authoring::PackageDesc& desc,
                         const authoring::PackageHeaderInfo& info, const Package& loaded) {
  ordered_json j;
  j["file"] = path;
  j["fileSize"] = fileSize;
  j["header"] = {{"headerSize", info.headerSize},   {"version", info.version},
                 {"magic", "VYRF"},                 {"actorListOffset", info.actorList},
                 {"pictureListOffset", info.pictureList}, {"pictureDataBase", info.dataBase},
                 {"defaultPictureField", info.defaultPicture}};
  j["defaultPicture"] = loaded.defaultPicture;
  ordered_json actors = ordered_json::array();
  for (size_t i = 0; i < desc.actors.size(); ++i) {
    const authoring::ActorDesc& a = desc.actors[i];
    ordered_json actor;
    actor["index"] = i;
    actor["name"] = Utf8Name(a.name);
    actor["eyeKey"] = EyeKey(a.name);
    actor["initialStepIndex"] = a.initialStep;
    actor["stepIndex"] = loaded.actors[i].stepIndex;
    actor["stepCount"] = a.steps.size();
    ordered_json steps = ordered_json::array();
    for (size_t k = 0; k < a.steps.size(); ++k) steps.push_back(StepJson(a.steps[k], k));
    actor["steps"] = std::move(steps);
    actors.push_back(std::move(actor));
  }
  j["actors"] = std::move(actors);
  ordered_json pictures = ordered_json::array();
  for (size_t i = 0; i < desc.pictures.size(); ++i) {
    const PictureEntry& e = desc.pictures[i].entry;
    pictures.push_back({{"index", i},
                        {"pixelFormat", PixelFormatName(e.pixelFormat)},
                        {"pixelFormatCode", e.pixelFormat},
                        {"maskKind", MaskKindName(e.maskKind)},
                        {"maskKindCode", e.maskKind},
                        {"width", e.width},
                        {"height", e.height},
                        {"pixelDataSize", e.pixelDataSize},
                        {"maskDataSize", e.maskDataSize},
                        {"totalSize", e.totalSize},
                        {"storage", e.storedSize != 0 ? "compressed" : "raw"},
                        {"storedSize", e.storedSize},
                        {"dataOffset", info.pictureOffsets[i]},
                        {"dataInFile", !desc.pictures[i].missing}});
  }
  j["pictures"] = std::move(pictures);
  return j;
}

}  // namespace

Json InspectPackage(const std::string& path) {
  authoring::PackageDesc desc;
  authoring::PackageHeaderInfo info;
  std::vector<uint8_t> bytes;
  try {
    bytes = authoring::ReadFileBytes(path);
    desc = authoring::ReadPackage(bytes, &info);
  } catch (const authoring::PackageError& e) {
    const std::string what = e.what();
    throw Error(what.rfind(path, 0) == 0 ? what : path + ": " + what);
  }
  // Show only what the player itself accepts, with the values it loads.
  const auto wide = host::Utf8ToUtf16(path);
  Package* package = nullptr;
  if (!wide || LoadPackage(wide->c_str(), &package) != STATUS_SUCCESS) {
    throw Error(path + ": the player refuses this package");
  }
  Json j;
  try {
    j = PackageJson(path, bytes.size(), desc, info, *package);
  } catch (...) {
    FreePackage(package);
    throw;
  }
  FreePackage(package);
  return j;
}

}  // namespace tiko::packages
