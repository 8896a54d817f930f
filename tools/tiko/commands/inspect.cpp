// tiko inspect: what a package holds, for people (text) and programs (JSON,
// as the package library gives it).
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "commands.h"
#include "host/packages/inspect.h"

namespace tiko::tool {
namespace {

using nlohmann::ordered_json;

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
    ordered_json j;
    try {
      j = packages::InspectPackage(*path);
    } catch (const packages::Error& e) {
      PrintError(e.what());
      return kExitFailure;
    }
    if (*json) {
      std::printf("%s\n", j.dump(2).c_str());
    } else {
      PrintText(j);
    }
    return 0;
  };
}

}  // namespace tiko::tool
