// tiko inspect: what a package holds, for people (text) and programs (JSON).
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "commands.h"
#include "host/paths.h"
#include "package/loader.h"
#include "authoring/writer.h"
#include "step_names.h"

namespace tiko::tool {
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

std::string Signed(int32_t v) { return (v >= 0 ? "+" : "") + std::to_string(v); }

void PrintText(const ordered_json& j) {
  const auto& h = j["header"];
  std::printf("%s: %zu actors, %zu pictures, %zu bytes\n", j["file"].get<std::string>().c_str(), j["actors"].size(),
              j["pictures"].size(), j["fileSize"].get<size_t>());
  std::printf("header: size %u, version 0x%08X, magic VYRF, actor list at %u, picture table at %u (data base %u)\n",
              h["headerSize"].get<uint32_t>(), h["version"].get<uint32_t>(), h["actorListOffset"].get<uint32_t>(),
              h["pictureListOffset"].get<uint32_t>(), h["pictureDataBase"].get<uint32_t>());
  const int32_t def = j["defaultPicture"].get<int32_t>();
  std::printf("default picture: %s\n", def < 0 ? "none" : std::to_string(def).c_str());
  for (const auto& a : j["actors"]) {
    const int32_t eye = a["eyeKey"].get<int32_t>();
    std::printf("actor %zu \"%s\"%s: starts at step %d%s, %zu steps\n", a["index"].get<size_t>(),
                a["name"].get<std::string>().c_str(), eye == 0 ? "" : (eye < 0 ? " (eye 1)" : " (eye 2)"),
                a["initialStepIndex"].get<int32_t>(), a["stepIndex"].get<int32_t>() < 0 ? " (hidden)" : "",
                a["stepCount"].get<size_t>());
    for (const auto& s : a["steps"]) {
      std::string line = "  step " + std::to_string(s["index"].get<size_t>()) + ":";
      const auto field = [&](const char* label, const ordered_json& f, bool keep) {
        const std::string mode = f["mode"].get<std::string>();
        if (keep && mode == "keep") return;
        line += std::string(" ") + label + "=" + mode;
        if (mode != "keep" && mode != "proportional") line += "(" + Signed(f["value"].get<int32_t>()) + ")";
      };
      line += " advance=" + s["advance"]["mode"].get<std::string>() + "(" +
              std::to_string(s["advance"]["param"].get<int32_t>()) + ")";
      line += " alt=" + s["altAdvance"]["mode"].get<std::string>();
      if (s["altAdvance"]["mode"] != "none") line += "(" + std::to_string(s["altAdvance"]["param"].get<int32_t>()) + ")";
      if (s["pictureChange"].get<bool>()) line += " picture=" + std::to_string(s["pictureIndex"].get<int32_t>());
      field("width", s["width"], true);
      field("height", s["height"], true);
      field("x", s["x"], true);
      field("y", s["y"], true);
      field("opacity", s["opacity"], true);
      if (!s["cue"].is_null()) line += " cue=\"" + s["cue"].get<std::string>() + "\"";
      std::printf("%s\n", line.c_str());
    }
  }
  for (const auto& p : j["pictures"]) {
    std::printf("picture %zu: %s %ux%u, mask %s, %u + %u = %u bytes, %s", p["index"].get<size_t>(),
                p["pixelFormat"].get<std::string>().c_str(), p["width"].get<uint32_t>(), p["height"].get<uint32_t>(),
                p["maskKind"].get<std::string>().c_str(), p["pixelDataSize"].get<uint32_t>(),
                p["maskDataSize"].get<uint32_t>(), p["totalSize"].get<uint32_t>(),
                p["storage"].get<std::string>().c_str());
    if (p["storage"] == "compressed") std::printf(" (%u bytes)", p["storedSize"].get<uint32_t>());
    std::printf(", at offset %llu%s\n", static_cast<unsigned long long>(p["dataOffset"].get<uint64_t>()),
                p["dataInFile"].get<bool>() ? "" : " (beyond the end of the file)");
  }
}

}  // namespace

Runner AddInspect(CLI::App& app) {
  auto* cmd = app.add_subcommand("inspect", "Show the header, actors, steps and pictures of a package");
  auto path = std::make_shared<std::string>();
  auto json = std::make_shared<bool>(false);
  cmd->add_option("PACKAGE", *path, "Package file")->required();
  cmd->add_flag("--json", *json, "Print JSON instead of text");
  return [path, json]() {
    authoring::PackageDesc desc;
    authoring::PackageHeaderInfo info;
    std::vector<uint8_t> bytes;
    try {
      bytes = authoring::ReadFileBytes(*path);
      desc = authoring::ReadPackage(bytes, &info);
    } catch (const authoring::PackageError& e) {
      const std::string what = e.what();
      PrintError(what.rfind(*path, 0) == 0 ? what : *path + ": " + what);
      return kExitFailure;
    }
    // Show only what the player itself accepts, with the values it loads.
    const auto wide = host::Utf8ToUtf16(*path);
    Package* package = nullptr;
    if (!wide || LoadPackage(wide->c_str(), &package) != STATUS_SUCCESS) {
      PrintError(*path + ": the player refuses this package");
      return kExitFailure;
    }
    const ordered_json j = PackageJson(*path, bytes.size(), desc, info, *package);
    FreePackage(package);
    if (*json) {
      std::printf("%s\n", j.dump(2).c_str());
    } else {
      PrintText(j);
    }
    return 0;
  };
}

}  // namespace tiko::tool
