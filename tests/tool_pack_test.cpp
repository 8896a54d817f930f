// pack and unpack, run as a user would run them.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>

#include "anim/sound.h"
#include "host/rgba_png.h"
#include "support/run_tool.h"

namespace tiko {
namespace {

namespace fs = std::filesystem;
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

// A w x h RGBA picture with a pattern from `seed` and alpha from 0 up.
host::RgbaImage Pattern(int32_t w, int32_t h, uint32_t seed) {
  host::RgbaImage png{w, h, {}};
  for (int32_t i = 0; i < w * h; ++i) {
    const uint8_t px[4] = {static_cast<uint8_t>(30 * (i % w) + seed), static_cast<uint8_t>(50 * (i / w)),
                           static_cast<uint8_t>(90 + seed * 7), static_cast<uint8_t>(i * 7)};
    png.pixels.insert(png.pixels.end(), px, px + 4);
  }
  return png;
}

void WritePng(const std::string& path, const host::RgbaImage& png) {
  std::string error;
  ASSERT_TRUE(host::WritePngRgba(path, png, true, &error)) << error;
}

// Every file under `dir` with its bytes (a folder as "<folder>/"), but the
// stderr file that RunTool keeps there: what a failed command must leave as
// it found it.
std::map<std::string, std::vector<uint8_t>> Snapshot(const std::string& dir) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    const std::string name = fs::relative(entry.path(), dir).string();
    if (name == "stderr.txt") continue;
    if (entry.is_symlink() || entry.is_directory()) {
      files[name + (entry.is_directory() ? "/" : "@")] = {};
    } else {
      files[name] = authoring::ReadFileBytes(entry.path().string());
    }
  }
  return files;
}

// One line "tiko: <message>" on stderr.
void ExpectOneLine(const ToolRun& run, const std::string& message, const std::string& what) {
  EXPECT_EQ(run.err.rfind("tiko: ", 0), 0u) << what << ": " << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << what << ": " << run.err;
  EXPECT_NE(run.err.find(message), std::string::npos) << what << ": " << run.err << "expected: " << message;
}

// Runs `args` and expects it to fail with `status` and `message`, leaving
// everything under `dir` as it was.
void ExpectRefused(const std::string& args, const TempDir& dir, int status, const std::string& message,
                   const std::string& what) {
  const auto before = Snapshot(dir.path());
  const ToolRun run = RunTool(args, dir);
  EXPECT_EQ(run.status, status) << what << ": " << run.err;
  ExpectOneLine(run, message, what);
  EXPECT_EQ(Snapshot(dir.path()), before) << what << ": the command changed its folder";
}

// The first 24 bytes of a PNG file that says it is w x h pixels: all that is
// read before a picture's size is refused.
std::vector<uint8_t> PngHead(uint32_t w, uint32_t h) {
  std::vector<uint8_t> head = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  for (const uint32_t v : {w, h}) {
    for (int shift = 24; shift >= 0; shift -= 8) head.push_back(static_cast<uint8_t>(v >> shift));
  }
  head.insert(head.end(), {8, 6, 0, 0, 0});
  return head;
}

// Packs a 7 x 5 picture in YUV 4:2:0 and unpacks it into out/: a picture
// with its pixels file, as an author finds them.
void UnpackYuvPicture(const TempDir& dir) {
  const std::string d = dir.path();
  WritePng(d + "/art.png", Pattern(7, 5, 0));
  WriteText(d + "/show.json", R"({"pictures": [{"name": "a", "file": "art.png", "layout": "yuv420"}], "actors": []})");
  ASSERT_EQ(RunTool("pack " + d + "/show.json -o " + d + "/show.tiko", dir).status, 0);
  ASSERT_EQ(RunTool("unpack " + d + "/show.tiko -o " + d + "/out", dir).status, 0);
}

ActorStep Step(authoring::StepModes modes, int16_t advanceParam = 0) {
  ActorStep s{};
  s.flags = authoring::MakeStepFlags(modes);
  s.advanceParam = advanceParam;
  return s;
}

ActorStep CueStep(const char* cue) {
  ActorStep s = Step({});
  s.cueMarker = kCueMarker;
  std::memcpy(s.cueName, cue, std::strlen(cue));
  return s;
}

// A lower limit on the size of the files this process and its children
// write, so that a write fails part way as on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &previous_);
    // Past the limit a write fails with EFBIG instead of a signal ending
    // the process; the ignored signal carries over into the tool.
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = previous_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previousHandler_);
  }

 private:
  rlimit previous_{};
  void (*previousHandler_)(int) = nullptr;
};

// ---- pack and the trip back -----------------------------------------------------

// unpack then pack gives back the very bytes, for every package the writer
// can make: all layouts, mask kinds, raw and compressed pictures, every mode,
// and references that lead outside the package, which an author cannot write
// but other tools may have.
TEST(ToolPack, UnpackThenPackIsByteIdentical) {
  // An actor without steps starts hidden in every package the packer writes.
  authoring::PackageDesc rich = test::RichPackage();
  for (auto& actor : rich.actors) {
    if (actor.steps.empty()) actor.initialStep = -1;
  }
  authoring::PackageDesc outside = test::ShowPackage();
  outside.defaultPicture = 99;
  ActorStep farPicture = Step({.pictureChange = 1});
  farPicture.pictureIndex = 40;
  ActorStep slash = CueStep("a/b");
  slash.flags = authoring::MakeStepFlags({.advance = kAdvanceSkip});
  slash.advanceParam = -5;
  outside.actors.push_back({u"stray", 1, {Step({.advance = kAdvanceJump}, 9), farPicture, slash}});
  const struct {
    const char* what;
    authoring::PackageDesc desc;
  } cases[] = {
      {"show", test::ShowPackage()},
      {"rich (codes no author writes)", rich},
      {"references outside the package", outside},
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
  const host::RgbaImage png = Pattern(7, 5, 0);
  WritePng(dir.path() + "/art.png", png);
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
        {"picture": 2, "x": {"clamp": 5}, "advance": "hide", "alternate": {"jump": 0}}
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
  std::string error;
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

// Every fault of a script is one line naming the place at fault, exit status
// 1, and the older package at -o stays as it was.
TEST(ToolPack, ErrorsNameThePlaceAtFault) {
  TempDir dir;
  const std::string d = dir.path();
  WritePng(d + "/p.png", host::RgbaImage{2, 2, std::vector<uint8_t>(16, 200)});
  WriteText(d + "/not.png", "plain text");
  dir.Write("wide.png", PngHead(70000, 1));
  dir.Write("huge.png", PngHead(40000, 40000));
  fs::create_directory(d + "/folder.png");
  dir.Write("out.tiko", {1, 2, 3});
  const std::string picture = R"({"name": "p", "file": "p.png"})";
  // An actor of two steps: the first shows p, the second is the one tested.
  const auto script = [&](const std::string& pictures, const std::string& step) {
    return R"({"pictures": [)" + pictures + R"(], "actors": [{"name": "a", "steps": [{"picture": "p"}, )" + step +
           "]}]}";
  };
  const auto withPicture = [&](const std::string& fields) {
    return script(R"({"name": "p", )" + fields + "}", "{}");
  };
  std::string many = R"({"actors": [], "pictures": [)";
  for (int i = 0; i <= 32768; ++i) many += std::string(i ? ", " : "") + R"({"name": "p)" + std::to_string(i) + R"(", "file": "p.png"})";
  many += "]}";
  const struct {
    std::string json;
    std::string message;
  } cases[] = {
      // Values and choices.
      {script(picture, R"({"x": {"bounce": 40000}})"), "actors[0].steps[1].x: expected an integer from -32768 to 32767"},
      {script(picture, R"({"x": {"jump": 4}})"),
       R"(actors[0].steps[1].x: unknown mode "jump" (expected {"set": n}, {"add": n}, {"wrap": n}, {"clamp": n} or {"bounce": n}))"},
      {script(picture, R"({"colour": 3})"), R"(actors[0].steps[1].colour: unknown field (expected "advance", "alternate")"},
      {script(picture, R"({"advance": "sideways"})"),
       R"(actors[0].steps[1].advance: unknown advance "sideways" (expected "next", "hide", {"jump": n}, {"skip": n} or {"repeat": n}))"},
      {script(picture, R"({"alternate": {"goto": 1}})"),
       R"(actors[0].steps[1].alternate: unknown mode "goto" (expected "none", "next", "hide", {"jump": n})"},
      {script(picture, R"({"opacity": {"set": 200}})"), "actors[0].steps[1].opacity: expected an integer from -128 to 127"},
      {script(picture, R"({"cue": "bell"})"), "actors[0].steps[1].cue: expected a name of 1 to 3 characters"},
      {script(picture, R"({"cue": "a/b"})"), "actors[0].steps[1].cue: expected printable ASCII characters other than /"},
      {script(picture, R"({"width": "wide"})"),
       R"(actors[0].steps[1].width: unknown size "wide" (expected "proportional", {"set": n} or {"add": n}))"},
      {withPicture(R"("file": "p.png", "layout": "rgb")"),
       R"(pictures[0].layout: unknown layout "rgb" (expected "bgr24", "yuv422" or "yuv420"))"},
      {withPicture(R"("file": "p.png", "mask": "half")"),
       R"(pictures[0].mask: unknown mask "half" (expected "alpha", "bit" or "none"))"},
      {withPicture(R"("file": "p.png", "threshold": 0)"), "pictures[0].threshold: expected an integer from 1 to 255"},
      {withPicture(R"("file": "p.png", "compress": "yes")"), "pictures[0].compress: expected true or false"},
      {script(picture + ", " + picture, "{}"), R"(pictures[1].name: a picture named "p" comes earlier)"},
      {R"({"pictures": [], "actors": [{"name": "thirteen-char", "steps": []}]})", "actors[0].name: expected at most 12"},
      {R"({"pictures": [], "actors": [{"name": "a", "start": 1, "steps": [{}]}]})",
       R"(actors[0].start: expected "hidden" or a step index from 0 to 0)"},
      {R"({"pictures": [], "actors": [{"name": "a", "start": 0, "steps": []}]})",
       R"(actors[0].start: expected "hidden": the actor has no steps)"},
      {R"({"pictures": [], "actors": 3})", "actors: expected an array"},
      {R"({"pictures": [3], "actors": []})", "pictures[0]: expected an object"},
      {R"({"pictures": []})", R"((top): missing "actors")"},
      // References.
      {script(picture, R"({"picture": "q"})"), R"(actors[0].steps[1].picture: no picture named "q")"},
      {script(picture, R"({"picture": 1})"), "actors[0].steps[1].picture: no picture 1 (the pictures are 0 to 0)"},
      {script(picture, R"({"picture": -1})"), "actors[0].steps[1].picture: no picture -1 (the pictures are 0 to 0)"},
      {script(picture, R"({"picture": true})"), "actors[0].steps[1].picture: expected a picture name, a picture number"},
      {script(picture, R"({"advance": {"jump": 2}})"), "actors[0].steps[1].advance: jumps to step 2, past the last step (1)"},
      {script(picture, R"({"advance": {"jump": -1}})"),
       "actors[0].steps[1].advance: jumps to step -1, before the first step (0)"},
      {script(picture, R"({"alternate": {"skip": 1}})"),
       "actors[0].steps[1].alternate: skips from step 1 to step 2, past the last step (1)"},
      {script(picture, R"({"advance": {"skip": -2}})"),
       "actors[0].steps[1].advance: skips from step 1 to step -1, before the first step (0)"},
      {R"({"pictures": [], "actors": [], "defaultPicture": 0})", "defaultPicture: no picture 0 (there are no pictures)"},
      {R"({"pictures": [], "actors": [], "defaultPicture": "p"})", R"(defaultPicture: no picture named "p")"},
      {R"({"pictures": [], "actors": [], "defaultPicture": true})",
       R"(defaultPicture: expected a picture name, a picture number, null or {"raw": n})"},
      {R"({"pictures": [], "actors": [], "defaultPicture": {"raw": -1}})",
       "defaultPicture.raw: expected an integer from 0 to 4294967295"},
      // Picture files and limits.
      {withPicture(R"("file": "missing.png")"), "pictures[0].file: cannot read " + d + "/missing.png: No such file or directory"},
      {withPicture(R"("file": "folder.png")"), "pictures[0].file: cannot read " + d + "/folder.png: Is a directory"},
      {withPicture(R"("file": "not.png")"), "pictures[0].file: " + d + "/not.png: not a readable PNG"},
      {withPicture(R"("file": "wide.png")"),
       "pictures[0].file: " + d + "/wide.png: 70000 x 1 pixels; pictures are at most 65535 pixels a side"},
      {withPicture(R"("file": "huge.png")"),
       "pictures[0].file: " + d + "/huge.png: 40000 x 40000 pixels are more than a picture holds (at most 2147483647 bytes of pixels and transparency)"},
      {withPicture(R"("file": "p.png", "pixels": "none.yuv420", "layout": "yuv420")"),
       "pictures[0].pixels: cannot read " + d + "/none.yuv420: No such file or directory"},
      {many, "pictures: a package holds at most 32768 pictures (steps name them by the numbers 0 to 32767)"},
      // Syntax.
      {"{\"pictures\": [],\n \"actors\": [}", "show.json:2:13: not valid JSON: syntax error while parsing value - unexpected '}'"},
      {"{\"pictures\": [", "show.json:1:15: not valid JSON: syntax error while parsing value - unexpected end of input"},
  };
  for (const auto& c : cases) {
    WriteText(d + "/show.json", c.json);
    ExpectRefused("pack " + d + "/show.json -o " + d + "/out.tiko", dir, 1, c.message, c.json.substr(0, 200));
  }
}

// A pixels file keeps a YUV picture's exact colours beside its PNG; once the
// PNG is edited they no longer belong together and packing says why, unless
// only colours that are never drawn changed or only the transparency did.
TEST(ToolPack, PixelsFileMustStillMatchItsPng) {
  const auto at = [](int32_t x, int32_t y) { return size_t(4) * (y * 7 + x); };
  const struct {
    const char* what;
    std::function<void(host::RgbaImage*)> edit;
    const char* layout;   // the script's layout after the edit
    std::string message;  // "" when the script packs
  } cases[] = {
      {"nothing", [](host::RgbaImage*) {}, "yuv420", ""},
      {"a colour under full transparency", [&](host::RgbaImage* png) { png->pixels[at(0, 0)] ^= 0x55; }, "yuv420", ""},
      {"the transparency", [&](host::RgbaImage* png) { png->pixels[at(3, 2) + 3] = 255; }, "yuv420", ""},
      {"a drawn colour", [&](host::RgbaImage* png) { png->pixels[at(3, 2) + 1] ^= 0x55; }, "yuv420",
       "picture0.png: the pixel at 3, 2 has other colours (delete it to pack the PNG's colours)"},
      {"a colour made visible",
       [&](host::RgbaImage* png) {
         png->pixels[at(0, 0)] ^= 0x55;
         png->pixels[at(0, 0) + 3] = 255;
       },
       "yuv420", "picture0.png: the pixel at 0, 0 has other colours"},
      {"the size", [](host::RgbaImage* png) { *png = Pattern(6, 5, 0); }, "yuv420",
       "picture0.png: it holds 59 bytes, a 6 x 5 yuv420 picture needs 48 (delete it to pack the PNG's colours)"},
      {"the layout", [](host::RgbaImage*) {}, "yuv422", "picture0.png: it holds 59 bytes, a 7 x 5 yuv422 picture needs 80"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const std::string d = dir.path();
    ASSERT_NO_FATAL_FAILURE(UnpackYuvPicture(dir));
    std::string error;
    auto png = host::ReadPngRgba(d + "/out/picture0.png", 100, &error);
    ASSERT_TRUE(png) << error;
    c.edit(&*png);
    WritePng(d + "/out/picture0.png", *png);
    std::string script = ReadText(d + "/out/package.json");
    const size_t layout = script.find(R"("layout": "yuv420")");
    ASSERT_NE(layout, std::string::npos) << script;
    script.replace(layout, 18, std::string(R"("layout": ")") + c.layout + "\"");
    WriteText(d + "/out/package.json", script);

    const std::string args = "pack " + d + "/out/package.json -o " + d + "/again.tiko";
    if (c.message.empty()) {
      const ToolRun run = RunTool(args, dir);
      EXPECT_EQ(run.status, 0) << c.what << ": " << run.err;
    } else {
      ExpectRefused(args, dir, 1,
                    "package.json: pictures[0].pixels: " + d + "/out/picture0.yuv420 no longer matches " + d + "/out/" +
                        c.message,
                    c.what);
    }
  }
}

// pack refuses an -o that is one of the files it reads, however it is
// spelt, before it reads a single picture.
TEST(ToolPack, NeverWritesOverItsInputs) {
  TempDir dir;
  const std::string d = dir.path();
  ASSERT_NO_FATAL_FAILURE(UnpackYuvPicture(dir));
  fs::create_directory(d + "/sub");
  fs::create_hard_link(d + "/out/picture0.png", d + "/hard.tiko");
  fs::create_symlink(d + "/out/picture0.yuv420", d + "/soft.tiko");
  const std::string script = d + "/out/package.json";
  const struct {
    std::string output;
    std::string message;
  } cases[] = {
      {script, "-o: " + script + " is the same file as SCRIPT " + script + "; choose another name"},
      {fs::relative(script).string(), "is the same file as SCRIPT " + script},
      {d + "/sub/../out/package.json", "is the same file as SCRIPT"},
      {d + "/out/./picture0.png", "-o: " + d + "/out/./picture0.png is the same file as pictures[0].file " + d +
                                      "/out/picture0.png"},
      {d + "/hard.tiko", "-o: " + d + "/hard.tiko is the same file as pictures[0].file"},
      {d + "/soft.tiko", "-o: " + d + "/soft.tiko is the same file as pictures[0].pixels " + d + "/out/picture0.yuv420"},
  };
  for (const auto& c : cases) {
    ExpectRefused("pack " + script + " -o " + c.output, dir, 2, c.message, c.output);
  }
}

// A read or write that fails says why, in the system's words, and leaves
// everything as it was. A write that fails part way (here: past a file size
// limit, as on a full disk) keeps the older package at -o; unpack names none
// of its files then and removes the folders it made.
TEST(ToolPack, FailedReadsAndWritesSayWhy) {
  TempDir dir;
  const std::string d = dir.path();
  WritePng(d + "/art.png", Pattern(64, 64, 1));
  WriteText(d + "/show.json", R"({"pictures": [{"name": "a", "file": "art.png", "compress": false}], "actors": []})");
  dir.Write("show.tiko", {1, 2, 3});
  // A small package whose cue wave is far larger than its other files.
  authoring::PackageDesc desc;
  desc.pictures = {test::RawBgrPicture(4, 4, kMaskByte, 1)};
  desc.actors = {{u"a", 0, {CueStep("bop")}}};
  const std::string package = dir.Write("p.tiko", authoring::WritePackage(desc));
  dir.Write("bop.wav", std::vector<uint8_t>(64 << 10, 7));
  fs::create_directory(d + "/old");
  WriteText(d + "/old/package.json", "the older script");
  WriteText(d + "/file.txt", "a file");
  fs::create_directories(d + "/sub/out/picture0.png");
  constexpr rlim_t kSmall = 16 << 10;
  const struct {
    std::string args;
    std::string message;
    rlim_t fileSizeLimit = 0;  // 0: none
  } cases[] = {
      {"pack " + d + "/none.json -o " + d + "/o.tiko", "cannot read " + d + "/none.json: No such file or directory"},
      {"pack " + d + "/sub -o " + d + "/o.tiko", "cannot read " + d + "/sub: Is a directory"},
      {"pack " + d + "/show.json -o " + d + "/none/o.tiko", "cannot write " + d + "/none/o.tiko: No such file or directory"},
      {"pack " + d + "/show.json -o " + d + "/file.txt/o.tiko", "cannot write " + d + "/file.txt/o.tiko: Not a directory"},
      {"pack " + d + "/show.json -o " + d + "/sub", "cannot write " + d + "/sub: it is a folder"},
      {"pack " + d + "/show.json -o " + d + "/show.tiko", "cannot write " + d + "/show.tiko: File too large", kSmall},
      {"unpack " + d + "/none.tiko -o " + d + "/o", "cannot read " + d + "/none.tiko: No such file or directory"},
      {"unpack " + package + " -o " + d + "/file.txt", "cannot write " + d + "/file.txt: Not a directory"},
      {"unpack " + package + " -o " + d + "/file.txt/o", "cannot write " + d + "/file.txt/o: Not a directory"},
      {"unpack " + package + " -o " + d + "/sub/out", "cannot write " + d + "/sub/out/picture0.png: it is a folder"},
      {"unpack " + package + " -o " + d + "/new/deeper", "cannot write " + d + "/new/deeper/bop.wav: File too large",
       kSmall},
      {"unpack " + package + " -o " + d + "/old", "cannot write " + d + "/old/bop.wav: File too large", kSmall},
  };
  for (const auto& c : cases) {
    std::optional<FileSizeLimit> limit;
    if (c.fileSizeLimit != 0) limit.emplace(c.fileSizeLimit);
    ExpectRefused(c.args, dir, 1, c.message, c.args);
  }
}

// Usage errors are one line naming the option and what it takes.
TEST(ToolPack, UsageErrorsAreOneLine) {
  TempDir dir;
  const struct {
    std::string args;
    std::string message;
  } cases[] = {
      {"pack", "tiko: SCRIPT: expected the JSON script to pack\n"},
      {"pack show.json", "tiko: -o: expected the package file to write\n"},
      {"pack show.json -o ''", "tiko: -o: expected the package file to write\n"},
      {"unpack", "tiko: PACKAGE: expected the package file to unpack\n"},
      {"unpack p.tiko", "tiko: -o: expected the folder to write into\n"},
  };
  for (const auto& c : cases) {
    const ToolRun run = RunTool(c.args, dir);
    EXPECT_EQ(run.status, 2) << c.args;
    EXPECT_EQ(run.err, c.message) << c.args;
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
  WritePng(dir.path() + "/ball.png", png);
  WritePng(dir.path() + "/hello.png", png);
  const ToolRun run = RunTool("pack " + dir.path() + "/show.json -o " + dir.path() + "/show.tiko", dir);
  EXPECT_EQ(run.status, 0) << run.err;
  const authoring::PackageDesc desc = authoring::ReadPackage(authoring::ReadFileBytes(dir.path() + "/show.tiko"));
  ASSERT_EQ(desc.actors.size(), 2u);
  EXPECT_EQ(desc.actors[1].steps.size(), 5u);
  EXPECT_EQ(desc.pictures[0].entry.pixelFormat, kFormatYuv420);
}

// ---- unpack -------------------------------------------------------------------

// unpack refuses a folder where one of the files it writes is its package,
// a cue wave it copies, or another of its outputs, before it writes any.
TEST(ToolUnpack, NeverWritesOverItsInputs) {
  const std::vector<uint8_t> show = authoring::WritePackage(test::ShowPackage());
  const struct {
    const char* what;
    const char* package;  // where the package lies in the test's folder
    const char* folder;   // the folder to unpack into, made beforehand
    std::function<void(const std::string& d)> setUp;
    std::string message;  // after "tiko: -o: <folder>/"
  } cases[] = {
      {"the package has an output's name", "out/picture0.png", "out", [](const std::string&) {},
       "picture0.png is the same file as PACKAGE "},
      {"the same folder, spelt through ..", "out/package.json", "out/sub/..", [](const std::string&) {},
       "package.json is the same file as PACKAGE "},
      {"a hard link to the package", "p.tiko", "out",
       [](const std::string& d) { fs::create_hard_link(d + "/p.tiko", d + "/out/picture2.yuv422"); },
       "picture2.yuv422 is the same file as PACKAGE "},
      {"a symbolic link to the package", "p.tiko", "out",
       [](const std::string& d) { fs::create_symlink(d + "/p.tiko", d + "/out/package.json"); },
       "package.json is the same file as PACKAGE "},
      {"the cue waves' own folder", "p.tiko", ".",
       [](const std::string& d) { authoring::WriteFileBytes(d + "/bop.wav", {1, 2, 3}); },
       "bop.wav is the same file as actors[1].steps[2].cue "},
      {"two outputs that are one file", "p.tiko", "out",
       [](const std::string& d) {
         authoring::WriteFileBytes(d + "/out/package.json", {1});
         fs::create_symlink(d + "/out/package.json", d + "/out/picture3.png");
       },
       "package.json is the same file as -o "},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const std::string d = dir.path();
    fs::create_directories(d + "/out/sub");
    authoring::WriteFileBytes(d + "/" + c.package, show);
    c.setUp(d);
    // The package spelt relative to the current folder, the folder absolute.
    const std::string folder = d + "/" + c.folder;
    ExpectRefused("unpack " + fs::relative(d + "/" + c.package).string() + " -o " + folder, dir, 2,
                  "tiko: -o: " + folder + "/" + c.message, c.what);
  }
}

// A package unpack cannot read in full fails before anything is written:
// nothing is left, not even the folder it would have made.
TEST(ToolUnpack, FailureLeavesNothing) {
  TempDir dir;
  const std::string d = dir.path();
  const std::string junk = dir.Write("junk.tiko", std::vector<uint8_t>(700, 1));
  authoring::PackageDesc desc = test::ShowPackage();
  desc.pictures[1].stored.resize(10);  // a damaged compressed block
  const std::string damaged = dir.Write("damaged.tiko", authoring::WritePackage(desc));
  authoring::PackageLayout layout;
  std::vector<uint8_t> bytes = authoring::WritePackage(test::ShowPackage(), {}, &layout);
  bytes.resize(layout.pictureData.back() + 1);
  const std::string cut = dir.Write("cut.tiko", bytes);
  fs::create_directory(d + "/cue");
  authoring::WriteFileBytes(d + "/cue/p.tiko", authoring::WritePackage(test::ShowPackage()));
  fs::create_directory(d + "/cue/bop.wav");  // the cue's wave is a folder
  fs::create_directory(d + "/old");
  WriteText(d + "/old/package.json", "the older script");
  const struct {
    std::string args;
    std::string message;
  } cases[] = {
      {"unpack " + junk + " -o " + d + "/new/deeper", junk + ": not a package"},
      {"unpack " + damaged + " -o " + d + "/new", damaged + ": picture 1: its compressed block is damaged"},
      {"unpack " + damaged + " -o " + d + "/old", damaged + ": picture 1: its compressed block is damaged"},
      {"unpack " + cut + " -o " + d + "/new", cut + ": picture 6: its data lie beyond the end of the file"},
      {"unpack " + d + "/cue/p.tiko -o " + d + "/new", "cannot read " + d + "/cue/bop.wav: Is a directory"},
  };
  for (const auto& c : cases) ExpectRefused(c.args, dir, 1, c.message, c.args);
}

// unpack copies the wave files of the package's cues that lie beside it, so
// that the folder it writes packs into a package that plays with sound.
TEST(ToolUnpack, CopiesTheCueWavesBesideThePackage) {
  TempDir dir;
  const std::string d = dir.path();
  authoring::PackageDesc desc = test::ShowPackage();  // cues "bop" and "hi"
  // A cue whose wave is not there, and one that leads into another folder.
  desc.actors.push_back({u"more", 0, {CueStep("no"), CueStep("s/x"), CueStep("bop")}});
  dir.Write("p.tiko", authoring::WritePackage(desc));
  const std::vector<uint8_t> bop(3000, 1), hi = {'R', 'I', 'F', 'F', 2};
  dir.Write("bop.wav", bop);
  dir.Write("hi.wav", hi);
  fs::create_directory(d + "/s");
  dir.Write("s/x.wav", {9});

  ToolRun run = RunTool("unpack " + d + "/p.tiko -o " + d + "/out", dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(authoring::ReadFileBytes(d + "/out/bop.wav"), bop);
  EXPECT_EQ(authoring::ReadFileBytes(d + "/out/hi.wav"), hi);
  EXPECT_FALSE(fs::exists(d + "/out/no.wav"));
  EXPECT_FALSE(fs::exists(d + "/out/s"));

  // Packed in its folder, every cue the player plays finds its wave there.
  run = RunTool("pack " + d + "/out/package.json -o " + d + "/out/again.tiko", dir);
  ASSERT_EQ(run.status, 0) << run.err;
  const authoring::PackageDesc again = authoring::ReadPackage(authoring::ReadFileBytes(d + "/out/again.tiko"));
  const std::u16string packagePath = test::Wide(d + "/out/again.tiko");
  int found = 0;
  for (const auto& actor : again.actors) {
    for (const ActorStep& step : actor.steps) {
      const std::string cue(step.cueName, strnlen(step.cueName, 3));
      if (step.cueMarker != kCueMarker || cue == "no" || cue == "s/x") continue;
      char16_t path[kSoundPathUnits];
      ASSERT_TRUE(BuildSoundCuePath(packagePath.c_str(), step.cueName, path));
      const std::u16string wide(path);
      EXPECT_TRUE(fs::exists(std::string(wide.begin(), wide.end()))) << cue;
      ++found;
    }
  }
  EXPECT_EQ(found, 3);
}

}  // namespace
}  // namespace tiko
