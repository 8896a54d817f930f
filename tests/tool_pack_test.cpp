// pack and unpack, run as a user would run them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "host/rgba_png.h"
#include "support/run_tool.h"

namespace tiko {
namespace {

using test::RunTool;
using test::TempDir;
using test::ToolRun;

std::string ReadText(const std::string& path) {
  const std::vector<uint8_t> bytes = authoring::ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

void WriteText(const std::string& path, const std::string& text) {
  authoring::WriteFileBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

// unpack then pack gives back the very bytes, for every package the writer
// can make: all layouts, mask kinds, raw and compressed pictures, every mode.
TEST(ToolPack, UnpackThenPackIsByteIdentical) {
  // An actor without steps starts hidden in every package the packer writes.
  authoring::PackageDesc rich = test::RichPackage();
  for (auto& actor : rich.actors) {
    if (actor.steps.empty()) actor.initialStep = -1;
  }
  const struct {
    const char* what;
    authoring::PackageDesc desc;
  } cases[] = {
      {"show", test::ShowPackage()},
      {"rich (codes no author writes)", rich},
      {"empty", authoring::PackageDesc{}},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const std::vector<uint8_t> original = authoring::WritePackage(c.desc);
    const std::string package = dir.Write("p.tiko", original);
    ToolRun run = RunTool("unpack " + package + " -o " + dir.path() + "/out", dir);
    ASSERT_EQ(run.status, 0) << c.what << ": " << run.err;
    EXPECT_EQ(run.out + run.err, "");
    run = RunTool("pack " + dir.path() + "/out/package.json -o " + dir.path() + "/again.tiko", dir);
    ASSERT_EQ(run.status, 0) << c.what << ": " << run.err;
    EXPECT_EQ(authoring::ReadFileBytes(dir.path() + "/again.tiko"), original) << c.what;
  }
}

// A package made from PNG pictures: what unpack gives back packs to the same
// bytes, and the pictures come back as they went in.
TEST(ToolPack, PicturesFromPngSurviveTheTrip) {
  TempDir dir;
  host::RgbaImage png{7, 5, {}};
  for (int i = 0; i < 35; ++i) {
    const uint8_t px[4] = {static_cast<uint8_t>(30 * (i % 7)), static_cast<uint8_t>(50 * (i / 7)), 90,
                           static_cast<uint8_t>(i * 7)};
    png.pixels.insert(png.pixels.end(), px, px + 4);
  }
  std::string error;
  ASSERT_TRUE(host::WritePngRgba(dir.path() + "/art.png", png, true, &error)) << error;
  WriteText(dir.path() + "/show.json", R"({
    "pictures": [
      {"name": "a", "file": "art.png", "layout": "bgr24", "mask": "alpha", "compress": true},
      {"name": "b", "file": "art.png", "layout": "yuv422", "mask": "bit", "threshold": 100},
      {"name": "c", "file": "art.png", "layout": "yuv420", "mask": "none", "compress": false}
    ],
    "defaultPicture": "b",
    "actors": [
      {"name": "$eye1", "start": "hidden", "steps": [{"picture": "a", "width": {"set": 400}, "height": "proportional"}]},
      {"name": "dancer", "steps": [
        {"picture": "b", "x": {"bounce": 120}, "y": {"wrap": -40}, "opacity": {"add": -3},
         "advance": {"repeat": 4}, "alternate": "next", "cue": "pop"},
        {"picture": null, "width": {"add": 10}, "advance": {"skip": -1}},
        {"picture": "c", "x": {"clamp": 5}, "advance": "hide"}
      ]}
    ]
  })");
  ToolRun run = RunTool("pack " + dir.path() + "/show.json -o " + dir.path() + "/show.tiko", dir);
  ASSERT_EQ(run.status, 0) << run.err;
  run = RunTool("unpack " + dir.path() + "/show.tiko -o " + dir.path() + "/out", dir);
  ASSERT_EQ(run.status, 0) << run.err;
  run = RunTool("pack " + dir.path() + "/out/package.json -o " + dir.path() + "/again.tiko", dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(authoring::ReadFileBytes(dir.path() + "/again.tiko"), authoring::ReadFileBytes(dir.path() + "/show.tiko"));

  // The BGR24 picture with its 8-bit plane comes back exactly; the 1-bit
  // plane comes back as 0 or 255 by the threshold.
  const auto a = host::ReadPngRgba(dir.path() + "/out/picture0.png", 100, &error);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->pixels, png.pixels);
  const auto b = host::ReadPngRgba(dir.path() + "/out/picture1.png", 100, &error);
  ASSERT_TRUE(b);
  for (size_t i = 0; i < 35; ++i) EXPECT_EQ(b->pixels[4 * i + 3], png.pixels[4 * i + 3] >= 100 ? 255 : 0) << i;

  const std::string json = ReadText(dir.path() + "/out/package.json");
  EXPECT_NE(json.find(R"("x": {"bounce": 120})"), std::string::npos) << json;
  EXPECT_NE(json.find(R"("cue": "pop")"), std::string::npos);
  EXPECT_NE(json.find(R"("start": "hidden")"), std::string::npos);
}

TEST(ToolPack, ErrorsNameThePlaceAtFault) {
  TempDir dir;
  host::RgbaImage png{2, 2, std::vector<uint8_t>(16, 200)};
  std::string error;
  ASSERT_TRUE(host::WritePngRgba(dir.path() + "/p.png", png, true, &error));
  WriteText(dir.path() + "/not.png", "plain text");
  const std::string picture = R"({"name": "p", "file": "p.png"})";
  const auto script = [&](const std::string& pictures, const std::string& steps) {
    return R"({"pictures": [)" + pictures + R"(], "actors": [{"name": "a", "steps": [{"picture": "p"}, )" + steps +
           "]}]}";
  };
  const struct {
    std::string json;
    std::string message;
  } cases[] = {
      {script(picture, R"({"x": {"bounce": 40000}})"),
       "actors[0].steps[1].x: expected an integer from -32768 to 32767"},
      {script(picture, R"({"x": {"jump": 4}})"), "actors[0].steps[1].x: unknown mode \"jump\""},
      {script(picture, R"({"colour": 3})"), "actors[0].steps[1].colour: unknown field"},
      {script(picture, R"({"picture": "q"})"), "actors[0].steps[1].picture: no picture named \"q\""},
      {script(picture, R"({"advance": "sideways"})"), "actors[0].steps[1].advance: unknown advance \"sideways\""},
      {script(picture, R"({"opacity": {"set": 200}})"), "actors[0].steps[1].opacity: expected an integer from -128"},
      {script(picture, R"({"cue": "bell"})"), "actors[0].steps[1].cue: expected a name of 1 to 3 characters"},
      {script(picture, R"({"width": "wide"})"), "actors[0].steps[1].width: expected \"proportional\""},
      {script(R"({"name": "p", "file": "p.png", "layout": "rgb"})", "{}"), "pictures[0].layout: unknown layout"},
      {script(R"({"name": "p", "file": "p.png", "mask": "half"})", "{}"), "pictures[0].mask: unknown mask"},
      {script(R"({"name": "p", "file": "p.png", "threshold": 0})", "{}"), "pictures[0].threshold: expected an integer"},
      {script(R"({"name": "p", "file": "missing.png"})", "{}"), "missing.png: cannot open"},
      {script(R"({"name": "p", "file": "not.png"})", "{}"), "not.png: not a readable PNG"},
      {script(picture + ", " + picture, "{}"), "pictures[1].name: a picture named \"p\" comes earlier"},
      {R"({"pictures": [], "actors": [{"name": "thirteen-char", "steps": []}]})", "actors[0].name: expected at most 12"},
      {R"({"pictures": [], "actors": [{"name": "a", "start": 1, "steps": [{}]}]})",
       "actors[0].start: expected \"hidden\" or a step index from 0 to 0"},
      {R"({"pictures": [], "actors": 3})", "actors: expected an array"},
      {R"({"pictures": []})", "(top): missing \"actors\""},
      {"{\"pictures\": [],\n \"actors\": [}", "show.json:2: not valid JSON"},
  };
  for (const auto& c : cases) {
    WriteText(dir.path() + "/show.json", c.json);
    const std::string output = dir.path() + "/out.tiko";
    const ToolRun run = RunTool("pack " + dir.path() + "/show.json -o " + output, dir);
    EXPECT_EQ(run.status, 1) << c.json;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err << "\nexpected: " << c.message;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_FALSE(std::filesystem::exists(output)) << c.json;
    EXPECT_FALSE(std::filesystem::exists(output + ".partial"));
  }
}

TEST(ToolPack, UnpackRefusesWhatIsNotAPackage) {
  TempDir dir;
  const std::string junk = dir.Write("junk.tiko", std::vector<uint8_t>(700, 1));
  authoring::PackageDesc desc = test::ShowPackage();
  desc.pictures[1].stored.resize(10);  // a damaged compressed block
  const std::string damaged = dir.Write("damaged.tiko", authoring::WritePackage(desc));
  const struct {
    std::string args;
    int status;
    const char* message;
  } cases[] = {
      {"unpack " + junk + " -o " + dir.path() + "/o1", 1, "not a package"},
      {"unpack " + dir.path() + "/none.tiko -o " + dir.path() + "/o2", 1, "cannot open"},
      {"unpack " + damaged + " -o " + dir.path() + "/o3", 1, "picture 1: its compressed block is damaged"},
      {"unpack " + junk, 2, "--output is required"},
      {"pack", 2, "SPEC is required"},
  };
  for (const auto& c : cases) {
    const ToolRun run = RunTool(c.args, dir);
    EXPECT_EQ(run.status, c.status) << c.args;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
}

// The worked example of the authoring guide packs as it stands.
TEST(ToolPack, AuthoringGuideExamplePacks) {
  TempDir dir;
  const std::string guide = ReadText(std::string(TIKO_TEST_DATA_DIR) + "/../docs/authoring.md");
  const size_t start = guide.find("```json\n");
  ASSERT_NE(start, std::string::npos);
  const size_t end = guide.find("```", start + 8);
  WriteText(dir.path() + "/show.json", guide.substr(start + 8, end - start - 8));
  host::RgbaImage png{16, 8, std::vector<uint8_t>(16 * 8 * 4, 180)};
  std::string error;
  ASSERT_TRUE(host::WritePngRgba(dir.path() + "/ball.png", png, true, &error));
  ASSERT_TRUE(host::WritePngRgba(dir.path() + "/hello.png", png, true, &error));
  const ToolRun run = RunTool("pack " + dir.path() + "/show.json -o " + dir.path() + "/show.tiko", dir);
  EXPECT_EQ(run.status, 0) << run.err;
  const authoring::PackageDesc desc = authoring::ReadPackage(authoring::ReadFileBytes(dir.path() + "/show.tiko"));
  ASSERT_EQ(desc.actors.size(), 2u);
  EXPECT_EQ(desc.actors[1].steps.size(), 5u);
  EXPECT_EQ(desc.pictures[0].entry.pixelFormat, kFormatYuv420);
}

}  // namespace
}  // namespace tiko
