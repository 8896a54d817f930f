// The inspect command, run as a user would run it.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/run_tool.h"

namespace tiko {
namespace {

using test::RunTool;
using test::ToolRun;

TEST(ToolInspect, JsonCarriesEveryField) {
  test::TempDir dir;
  const authoring::PackageDesc desc = test::RichPackage();
  authoring::PackageLayout layout;
  const std::string path = dir.Write("rich.tiko", authoring::WritePackage(desc, {}, &layout));
  const ToolRun run = RunTool("inspect --json " + path, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const nlohmann::json j = nlohmann::json::parse(run.out);

  EXPECT_EQ(j["header"]["headerSize"], 628);
  EXPECT_EQ(j["header"]["version"], 0x00010006);
  EXPECT_EQ(j["header"]["actorListOffset"], layout.actorList);
  EXPECT_EQ(j["header"]["pictureListOffset"], layout.pictureList);
  EXPECT_EQ(j["defaultPicture"], 1);

  const char* advance[] = {"next", "jump", "skip", "repeat", "next", "next", "hide", "next"};
  const char* alt[] = {"next", "jump", "skip", "repeat", "next", "next", "hide", "none"};
  const char* size[] = {"keep", "proportional", "set", "add"};
  const char* position[] = {"keep", "set", "add", "wrap", "clamp", "bounce", "keep", "keep"};
  const char* opacity[] = {"keep", "set", "add", "keep"};
  ASSERT_EQ(j["actors"].size(), desc.actors.size());
  for (size_t i = 0; i < desc.actors.size(); ++i) {
    const auto& a = j["actors"][i];
    const auto& d = desc.actors[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(a["initialStepIndex"], d.initialStep);
    EXPECT_EQ(a["stepCount"], d.steps.size());
    ASSERT_EQ(a["steps"].size(), d.steps.size());
    for (size_t k = 0; k < d.steps.size(); ++k) {
      const auto& s = a["steps"][k];
      const ActorStep& ds = d.steps[k];
      EXPECT_EQ(s["flags"], ds.flags);
      EXPECT_EQ(s["advance"]["mode"], advance[AdvanceMode(ds)]);
      EXPECT_EQ(s["advance"]["param"], ds.advanceParam);
      EXPECT_EQ(s["altAdvance"]["mode"], alt[AltAdvanceMode(ds)]);
      EXPECT_EQ(s["altAdvance"]["param"], ds.altAdvanceParam);
      EXPECT_EQ(s["pictureChange"], PictureChange(ds) != 0);
      EXPECT_EQ(s["pictureIndex"], ds.pictureIndex);
      EXPECT_EQ(s["width"]["mode"], size[WidthMode(ds)]);
      EXPECT_EQ(s["width"]["value"], ds.width);
      EXPECT_EQ(s["height"]["mode"], size[HeightMode(ds)]);
      EXPECT_EQ(s["height"]["value"], ds.height);
      EXPECT_EQ(s["x"]["mode"], position[XMode(ds)]);
      EXPECT_EQ(s["x"]["value"], ds.x);
      EXPECT_EQ(s["y"]["mode"], position[YMode(ds)]);
      EXPECT_EQ(s["y"]["value"], ds.y);
      EXPECT_EQ(s["opacity"]["mode"], opacity[OpacityMode(ds)]);
      EXPECT_EQ(s["opacity"]["value"], ds.opacity);
      if (ds.cueMarker == '$') {
        EXPECT_EQ(s["cue"], "ab");
      } else {
        EXPECT_TRUE(s["cue"].is_null());
      }
    }
  }
  EXPECT_EQ(j["actors"][0]["name"], "background");
  EXPECT_EQ(j["actors"][1]["eyeKey"], -1);
  EXPECT_EQ(j["actors"][1]["stepIndex"], -1);
  EXPECT_EQ(j["actors"][2]["eyeKey"], 1);
  EXPECT_EQ(j["actors"][3]["stepIndex"], -1);  // no steps: hidden

  const char* mask[] = {"none", "1-bit", "", "", "", "", "", "", "8-bit"};
  ASSERT_EQ(j["pictures"].size(), desc.pictures.size());
  for (size_t i = 0; i < desc.pictures.size(); ++i) {
    const auto& p = j["pictures"][i];
    const PictureEntry& e = desc.pictures[i].entry;
    EXPECT_EQ(p["pixelFormat"], "bgr24");
    EXPECT_EQ(p["maskKind"], mask[e.maskKind]);
    EXPECT_EQ(p["width"], e.width);
    EXPECT_EQ(p["height"], e.height);
    EXPECT_EQ(p["pixelDataSize"], e.pixelDataSize);
    EXPECT_EQ(p["maskDataSize"], e.maskDataSize);
    EXPECT_EQ(p["totalSize"], e.totalSize);
    EXPECT_EQ(p["storage"], "raw");
    EXPECT_EQ(p["dataOffset"], layout.pictureData[i]);
  }
}

TEST(ToolInspect, TextNamesTheModes) {
  test::TempDir dir;
  const std::string path = dir.Write("rich.tiko", authoring::WritePackage(test::RichPackage()));
  const ToolRun run = RunTool("inspect " + path, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("\"$Eye1\" (eye 1)"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("x=bounce(+200)"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("picture 2: bgr24 4x4, mask 8-bit"), std::string::npos) << run.out;
}

TEST(ToolInspect, BadInputGivesOneLineAndStatus) {
  test::TempDir dir;
  const std::string notPackage = dir.Write("text.txt", {'h', 'e', 'l', 'l', 'o', '\n'});
  const struct {
    std::string args;
    int status;
  } cases[] = {
      {"inspect " + notPackage, 1},
      {"inspect " + dir.path() + "/missing.tiko", 1},
      {"inspect", 2},
      {"inspect --no-such-flag x", 2},
      {"frobnicate", 2},
  };
  for (const auto& c : cases) {
    const ToolRun run = RunTool(c.args, dir);
    EXPECT_EQ(run.status, c.status) << c.args;
    EXPECT_EQ(run.out, "") << c.args;
    if (c.status == 1) {
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
      EXPECT_EQ(run.err.rfind("tiko: ", 0), 0u) << run.err;
    }
  }
}

}  // namespace
}  // namespace tiko
