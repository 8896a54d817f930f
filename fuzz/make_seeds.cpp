// Writes the seed corpora of the fuzz targets that take packages and pictures:
//
//   fuzz_seeds OUT_DIR
//
// makes OUT_DIR/package_play_fuzz/ (small packages from the package writer:
// every layout with every mask kind, raw and compressed; scripts that use
// every value of every step mode field; cues, eye actors, the test suites'
// rich package and show; sizes, offsets and counts at their limits) and
// OUT_DIR/image_convert_fuzz/ (every layout, mask kind and target, at odd and
// even sizes). The committed seeds under fuzz/corpus/ were made with it; run
// it again after a format change.
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "image/layout.h"
#include "authoring/writer.h"
#include "support/package_files.h"

namespace {

using tiko::ActorStep;
using tiko::authoring::ActorDesc;
using tiko::authoring::MakeStepFlags;
using tiko::authoring::PackageDesc;
using tiko::authoring::StepModes;

void Write(const std::filesystem::path& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
  std::filesystem::create_directories(dir);
  tiko::authoring::WriteFileBytes((dir / name).string(), bytes);
}

const char* FormatName(uint8_t format) {
  return format == tiko::kFormatBgr24 ? "bgr24" : format == tiko::kFormatYuv422 ? "yuv422" : "yuv420";
}

constexpr uint8_t kFormats[] = {tiko::kFormatBgr24, tiko::kFormatYuv422, tiko::kFormatYuv420};
constexpr uint8_t kMasks[] = {tiko::kMaskNone, tiko::kMaskBit, tiko::kMaskByte};

// A step that shows picture `picture` at a size and place, with the given
// modes on top.
ActorStep Step(StepModes modes, int16_t picture = 0) {
  ActorStep s{};
  s.flags = MakeStepFlags(modes);
  s.pictureIndex = picture;
  s.x = 1200;
  s.y = -700;
  s.width = 2500;
  s.height = 1900;
  s.advanceParam = 2;
  s.altAdvanceParam = -1;
  s.opacity = 60;
  return s;
}

// A picture of repeating tiles with a plane of stripes: small, and it
// compresses, so the raw and the compressed seeds differ.
tiko::authoring::PictureDesc Tiled(uint8_t format, uint8_t mask, uint16_t width, uint16_t height, bool compress) {
  const int64_t pixels = tiko::PixelDataSize(format, width, height);
  const int64_t plane = tiko::MaskDataSize(mask, width, height);
  std::vector<uint8_t> data(static_cast<size_t>(pixels + plane));
  for (size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<uint8_t>(int64_t(i) < pixels ? (i % 12) * 20 + format : (i % 3 == 0 ? 0xFF : 0x0F));
  }
  tiko::authoring::PictureDesc p = tiko::authoring::MakePicture(format, mask, width, height, std::move(data), compress);
  if (p.compressed != compress) throw tiko::authoring::PackageError("a tiled seed picture did not compress");
  return p;
}

// One package per stored form: a single actor that shows it.
void PictureSeeds(const std::filesystem::path& dir) {
  for (const uint8_t format : kFormats) {
    for (const uint8_t mask : kMasks) {
      for (const bool compress : {false, true}) {
        PackageDesc desc;
        desc.pictures = {Tiled(format, mask, 23, 15, compress)};
        desc.actors = {{u"shown", 0,
                        {Step({.pictureChange = 1, .width = tiko::kSizeSet, .height = tiko::kSizeSet,
                               .x = tiko::kPosSet, .y = tiko::kPosSet, .opacity = tiko::kOpacitySet})}}};
        const std::string name = std::string("picture_") + FormatName(format) + "_mask" + std::to_string(mask) +
                                 (compress ? "_packed" : "_raw") + ".tiko";
        Write(dir, name, tiko::authoring::WritePackage(desc));
      }
    }
  }
}

// One package per step mode field: an actor for every value of the field,
// each with a three-step script that uses the value on every step.
void StepSeeds(const std::filesystem::path& dir) {
  struct Field {
    const char* name;
    uint32_t values;
    void (*set)(StepModes&, uint32_t);
  };
  const Field fields[] = {
      {"advance", 8, [](StepModes& m, uint32_t v) { m.advance = v; }},
      {"width", 4, [](StepModes& m, uint32_t v) { m.width = v; }},
      {"height", 4, [](StepModes& m, uint32_t v) { m.height = v; }},
      {"x", 8, [](StepModes& m, uint32_t v) { m.x = v; }},
      {"y", 8, [](StepModes& m, uint32_t v) { m.y = v; }},
      {"opacity", 4, [](StepModes& m, uint32_t v) { m.opacity = v; }},
      {"alternate", 8, [](StepModes& m, uint32_t v) { m.altAdvance = v; }},
  };
  for (const Field& field : fields) {
    PackageDesc desc;
    desc.pictures = {tiko::test::PatternPicture(tiko::kFormatBgr24, tiko::kMaskBit, 6, 4, 1, false),
                     tiko::test::PatternPicture(tiko::kFormatYuv420, tiko::kMaskNone, 5, 3, 2, false)};
    for (uint32_t value = 0; value < field.values; ++value) {
      StepModes modes{.pictureChange = 1, .x = tiko::kPosBounce, .y = tiko::kPosWrap};
      field.set(modes, value);
      ActorDesc actor{u"m" + std::u16string(1, char16_t(u'0' + value)), 0, {}};
      for (int16_t k = 0; k < 3; ++k) actor.steps.push_back(Step(modes, k % 2));
      desc.actors.push_back(actor);
    }
    Write(dir, std::string("steps_") + field.name + ".tiko", tiko::authoring::WritePackage(desc));
  }

  // Cues of one to three characters, and the eye actors.
  PackageDesc cues;
  cues.pictures = {tiko::test::PatternPicture(tiko::kFormatBgr24, tiko::kMaskNone, 3, 3, 4, false)};
  ActorStep cue = Step({.advance = tiko::kAdvanceRepeat, .pictureChange = 1});
  cue.cueMarker = tiko::kCueMarker;
  std::memcpy(cue.cueName, "bop", 3);
  ActorStep shortCue = cue;
  std::memcpy(shortCue.cueName, "a\0\0", 3);
  cues.actors = {{u"$eye1", -1, {cue}}, {u"$EYE2", -1, {shortCue}}, {u"talker", 0, {cue, shortCue}}};
  Write(dir, "cues_and_eyes.tiko", tiko::authoring::WritePackage(cues));
}

// Packages at the edges the loader and the fetch must hold: sizes whose
// products overflow 32 bits, a data offset at the largest one a read can
// take, a step count whose bytes wrap 32 bits, sizes that run away.
void HostileSeeds(const std::filesystem::path& dir) {
  PackageDesc big;
  tiko::authoring::PictureDesc p;
  p.entry.pixelFormat = tiko::kFormatBgr24;
  p.entry.maskKind = tiko::kMaskByte;
  p.entry.width = 65535;
  p.entry.height = 65535;
  p.entry.pixelDataSize = static_cast<uint32_t>(uint64_t{65535} * 65535 * 3);
  p.entry.maskDataSize = static_cast<uint32_t>(uint64_t{65535} * 65535);
  p.entry.totalSize = p.entry.pixelDataSize + p.entry.maskDataSize;
  p.stored = std::vector<uint8_t>(64, 0x11);
  big.pictures = {p};
  big.actors = {{u"big", 0, {Step({.pictureChange = 1, .width = tiko::kSizeSet, .height = tiko::kSizeSet})}}};
  Write(dir, "hostile_sizes.tiko", tiko::authoring::WritePackage(big));

  tiko::authoring::PackageLayout layout;
  std::vector<uint8_t> rich = tiko::authoring::WritePackage(tiko::test::RichPackage(), {}, &layout);
  std::vector<uint8_t> offset = rich;
  tiko::WriteU32(offset.data() + layout.pictureEntries + 48, 0x7FFFFFFFu - layout.pictureList);
  Write(dir, "hostile_offset.tiko", offset);
  std::vector<uint8_t> steps = rich;
  tiko::WriteU32(steps.data() + layout.actorRecords[1] + tiko::kActorFieldStepCount, 0x0AAAAAABu);
  Write(dir, "hostile_step_count.tiko", steps);

  PackageDesc runaway;
  runaway.pictures = {Tiled(tiko::kFormatYuv420, tiko::kMaskBit, 9, 7, false)};
  ActorStep grow = Step({.pictureChange = 1, .width = tiko::kSizeAdd, .height = tiko::kSizeProportional,
                         .x = tiko::kPosAdd, .y = tiko::kPosBounce, .opacity = tiko::kOpacityAddClamp});
  grow.width = 32767, grow.x = -32768, grow.y = 32767, grow.opacity = 127;
  runaway.actors = {{u"runaway", 0, {grow}}, {u"$eye2", 0, {grow, grow}}};
  Write(dir, "hostile_runaway.tiko", tiko::authoring::WritePackage(runaway));
}

void PackageSeeds(const std::filesystem::path& dir) {
  PictureSeeds(dir);
  StepSeeds(dir);
  HostileSeeds(dir);
  Write(dir, "rich.tiko", tiko::authoring::WritePackage(tiko::test::RichPackage()));
  Write(dir, "show.tiko", tiko::authoring::WritePackage(tiko::test::ShowPackage()));
  Write(dir, "empty.tiko", tiko::authoring::WritePackage(PackageDesc{}));
}

// image_convert_fuzz inputs: a six-byte header, then picture bytes.
void ImageSeeds(const std::filesystem::path& dir) {
  const struct {
    uint8_t width, height, scaledWidth, scaledHeight;
  } sizes[] = {{7, 5, 11, 3}, {16, 8, 5, 9}};
  int n = 0;
  for (uint8_t layouts = 0; layouts < 27; ++layouts) {
    for (const auto& s : sizes) {
      std::vector<uint8_t> input = {layouts, 0, s.width, s.height, s.scaledWidth, s.scaledHeight};
      for (int i = 0; i < 96; ++i) input.push_back(static_cast<uint8_t>(i * 37 + layouts));
      char name[32];
      std::snprintf(name, sizeof name, "layouts_%02d_%d", layouts, n++ % 2);
      Write(dir, name, input);
    }
  }
  // An unknown target, an empty and a negative size, a picture without pixels.
  const std::vector<std::vector<uint8_t>> edges = {
      {4, 250, 9, 9, 3, 3, 1, 2, 3}, {13, 0, 9, 4, 0, 7, 200}, {20, 0, 6, 6, 251, 4, 9}, {0, 0, 0, 5, 3, 0}, {0, 0, 0, 5, 3, 3}};
  for (size_t i = 0; i < edges.size(); ++i) Write(dir, "edge_" + std::to_string(i), edges[i]);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT_DIR\n", argv[0]);
    return 2;
  }
  try {
    const std::filesystem::path out(argv[1]);
    PackageSeeds(out / "package_play_fuzz");
    ImageSeeds(out / "image_convert_fuzz");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
