#include "demo_package.h"

#include <cairo.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "package/format.h"
#include "host/packages/pictures.h"

namespace tiko::tool {
namespace {

using authoring::MakeStepFlags;
using authoring::StepModes;

constexpr double kPi = 3.14159265358979323846;

// A cairo drawing turned into a package picture.
class Canvas {
 public:
  Canvas(int32_t width, int32_t height)
      : width_(width),
        height_(height),
        surface_(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height), cairo_surface_destroy),
        cr_(cairo_create(surface_.get()), cairo_destroy) {}
  cairo_t* cr() { return cr_.get(); }

  authoring::PictureDesc Picture(uint8_t layout, uint8_t mask, bool compress) {
    cairo_surface_flush(surface_.get());
    const uint8_t* data = cairo_image_surface_get_data(surface_.get());
    const int stride = cairo_image_surface_get_stride(surface_.get());
    host::RgbaImage rgba{width_, height_, std::vector<uint8_t>(size_t(width_) * height_ * 4)};
    for (int32_t y = 0; y < height_; ++y) {
      for (int32_t x = 0; x < width_; ++x) {
        // Cairo keeps premultiplied native-endian ARGB words.
        uint32_t word;
        std::memcpy(&word, data + size_t(y) * stride + 4 * x, 4);
        const uint32_t a = word >> 24;
        const auto straight = [a](uint32_t c) { return static_cast<uint8_t>(a == 0 ? 0 : (c * 255 + a / 2) / a); };
        uint8_t* out = &rgba.pixels[(size_t(y) * width_ + x) * 4];
        out[0] = straight((word >> 16) & 255);
        out[1] = straight((word >> 8) & 255);
        out[2] = straight(word & 255);
        out[3] = static_cast<uint8_t>(a);
      }
    }
    return packages::PictureFromRgba(rgba, layout, mask, 128, compress);
  }

 private:
  int32_t width_, height_;
  std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t*)> surface_;
  std::unique_ptr<cairo_t, void (*)(cairo_t*)> cr_;
};

// A round lens with a rim and a glint; the bridge stub points inward.
authoring::PictureDesc Lens(double r, double g, double b, uint8_t layout) {
  Canvas canvas(96, 72);
  cairo_t* cr = canvas.cr();
  cairo_arc(cr, 48, 36, 30, 0, 2 * kPi);
  cairo_pattern_t* tint = cairo_pattern_create_radial(40, 28, 4, 48, 36, 30);
  cairo_pattern_add_color_stop_rgba(tint, 0, r + 0.3, g + 0.3, b + 0.3, 0.55);
  cairo_pattern_add_color_stop_rgba(tint, 1, r, g, b, 0.85);
  cairo_set_source(cr, tint);
  cairo_fill_preserve(cr);
  cairo_pattern_destroy(tint);
  cairo_set_line_width(cr, 6);
  cairo_set_source_rgba(cr, 0.08, 0.08, 0.1, 1);
  cairo_stroke(cr);
  cairo_set_line_width(cr, 4);
  cairo_move_to(cr, 34, 22);
  cairo_curve_to(cr, 38, 18, 44, 16, 50, 16);
  cairo_set_source_rgba(cr, 1, 1, 1, 0.8);
  cairo_stroke(cr);
  return canvas.Picture(layout, kMaskByte, true);
}

authoring::PictureDesc Ball() {
  Canvas canvas(64, 64);
  cairo_t* cr = canvas.cr();
  cairo_arc(cr, 32, 32, 30, 0, 2 * kPi);
  cairo_pattern_t* shade = cairo_pattern_create_radial(22, 20, 2, 32, 32, 30);
  cairo_pattern_add_color_stop_rgb(shade, 0, 1, 0.95, 0.7);
  cairo_pattern_add_color_stop_rgb(shade, 0.5, 0.95, 0.45, 0.1);
  cairo_pattern_add_color_stop_rgb(shade, 1, 0.45, 0.12, 0.05);
  cairo_set_source(cr, shade);
  cairo_fill(cr);
  cairo_pattern_destroy(shade);
  return canvas.Picture(kFormatYuv420, kMaskByte, true);
}

authoring::PictureDesc Star() {
  Canvas canvas(32, 32);
  cairo_t* cr = canvas.cr();
  for (int i = 0; i < 10; ++i) {
    const double angle = -kPi / 2 + i * kPi / 5;
    const double radius = i % 2 == 0 ? 15 : 6;
    cairo_line_to(cr, 16 + radius * std::cos(angle), 16 + radius * std::sin(angle));
  }
  cairo_close_path(cr);
  cairo_set_source_rgb(cr, 1, 0.9, 0.35);
  cairo_fill(cr);
  // Stored with a 1-bit plane and raw, to show both.
  return canvas.Picture(kFormatYuv422, kMaskBit, false);
}

authoring::PictureDesc Caption() {
  Canvas canvas(256, 64);
  cairo_t* cr = canvas.cr();
  cairo_rectangle(cr, 4, 8, 248, 48);
  cairo_set_source_rgba(cr, 0.05, 0.05, 0.15, 0.6);
  cairo_fill(cr);
  cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
  cairo_set_font_size(cr, 30);
  cairo_text_extents_t extents;
  const char* text = "hello from tiko";
  cairo_text_extents(cr, text, &extents);
  cairo_move_to(cr, 128 - extents.width / 2 - extents.x_bearing, 32 - extents.height / 2 - extents.y_bearing);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_show_text(cr, text);
  return canvas.Picture(kFormatBgr24, kMaskByte, true);
}

ActorStep Step(const StepModes& modes, int16_t advanceParam = 0) {
  ActorStep s{};
  s.flags = MakeStepFlags(modes);
  s.advanceParam = advanceParam;
  return s;
}

void Cue(ActorStep* step, const char* name) {
  step->cueMarker = kCueMarker;
  std::memcpy(step->cueName, name, std::strlen(name));
}

constexpr uint32_t kNone = kAltAdvanceNone;
enum Picture : int16_t { kLensA, kLensB, kBall, kStar, kCaption };

authoring::ActorDesc Eye(const char16_t* name, Picture picture) {
  ActorStep s = Step({.pictureChange = 1, .width = kSizeSet, .height = kSizeProportional, .altAdvance = kNone});
  s.pictureIndex = picture;
  s.width = 1400;
  return {name, -1, {s}};
}

authoring::ActorDesc FallingStar(int i) {
  ActorStep place = Step({.pictureChange = 1, .width = kSizeSet, .height = kSizeProportional, .x = kPosSet,
                          .y = kPosSet, .opacity = kOpacitySet, .altAdvance = kNone});
  place.pictureIndex = kStar;
  place.width = static_cast<int16_t>(350 + 90 * (i % 3));
  place.x = static_cast<int16_t>(700 + 2300 * i);
  place.y = static_cast<int16_t>(7500 - 1700 * i);
  place.opacity = static_cast<int8_t>(70 + 10 * i);
  ActorStep fall = Step({.advance = kAdvanceJump, .x = kPosWrap, .y = kPosWrap, .altAdvance = kNone}, 1);
  fall.x = static_cast<int16_t>(i % 2 == 0 ? 23 : -17);
  fall.y = static_cast<int16_t>(-70 - 25 * i);
  return {u"star", 0, {place, fall}};
}

}  // namespace

authoring::PackageDesc DemoPackage() {
  authoring::PackageDesc desc;
  desc.pictures = {Lens(0.1, 0.3, 0.9, kFormatBgr24), Lens(0.9, 0.2, 0.5, kFormatYuv422), Ball(), Star(), Caption()};
  desc.defaultPicture = kBall;

  ActorStep ballPlace = Step({.pictureChange = 1, .width = kSizeSet, .height = kSizeProportional, .x = kPosSet,
                              .y = kPosSet, .altAdvance = kNone});
  ballPlace.pictureIndex = kBall;
  ballPlace.width = 1100;
  ballPlace.x = 600;
  ballPlace.y = 5200;
  // Bouncing holds on step 1; an edge hit takes the alternate path to step 2,
  // which plays the bop and goes back.
  ActorStep bounce = Step({.advance = kAdvanceJump, .x = kPosBounce, .y = kPosBounce, .altAdvance = 0}, 1);
  bounce.x = 170;
  bounce.y = -130;
  ActorStep bop = Step({.advance = kAdvanceJump, .x = kPosBounce, .y = kPosBounce, .altAdvance = kNone}, 1);
  bop.x = 0;
  bop.y = 0;
  Cue(&bop, "bop");

  ActorStep capPlace = Step({.pictureChange = 1, .width = kSizeSet, .height = kSizeProportional, .x = kPosSet,
                             .y = kPosSet, .opacity = kOpacitySet, .altAdvance = kNone});
  capPlace.pictureIndex = kCaption;
  capPlace.width = 6000;
  capPlace.x = 2000;
  capPlace.y = 350;
  capPlace.opacity = 0;
  ActorStep wait = Step({.advance = kAdvanceRepeat, .altAdvance = kNone}, 15);
  ActorStep chime = Step({.altAdvance = kNone});
  Cue(&chime, "hi");
  ActorStep fadeIn = Step({.advance = kAdvanceRepeat, .opacity = kOpacityAddClamp, .altAdvance = kNone}, 19);
  fadeIn.opacity = 5;
  ActorStep hold = Step({.advance = kAdvanceRepeat, .altAdvance = kNone}, 40);
  ActorStep fadeOut = fadeIn;
  fadeOut.opacity = -5;

  desc.actors = {FallingStar(0),
                 FallingStar(1),
                 FallingStar(2),
                 FallingStar(3),
                 {u"ball", 0, {ballPlace, bounce, bop}},
                 {u"caption", 0, {capPlace, wait, chime, fadeIn, hold, fadeOut}},
                 Eye(u"$eye1", kLensA),
                 Eye(u"$eye2", kLensB)};
  return desc;
}

namespace {

constexpr uint32_t kSampleRate = 22050;

// A mono 16-bit wave file of the samples (-1..1).
std::vector<uint8_t> Wave(const std::vector<double>& samples) {
  std::vector<uint8_t> out(44 + samples.size() * 2);
  const uint32_t dataBytes = static_cast<uint32_t>(samples.size() * 2);
  std::memcpy(out.data(), "RIFF", 4);
  WriteU32(&out[4], 36 + dataBytes);
  std::memcpy(&out[8], "WAVEfmt ", 8);
  WriteU32(&out[16], 16);
  WriteU16(&out[20], 1);  // PCM
  WriteU16(&out[22], 1);  // mono
  WriteU32(&out[24], kSampleRate);
  WriteU32(&out[28], kSampleRate * 2);
  WriteU16(&out[32], 2);
  WriteU16(&out[34], 16);
  std::memcpy(&out[36], "data", 4);
  WriteU32(&out[40], dataBytes);
  for (size_t i = 0; i < samples.size(); ++i) {
    const double s = std::max(-1.0, std::min(1.0, samples[i]));
    WriteU16(&out[44 + 2 * i], static_cast<uint16_t>(static_cast<int16_t>(std::lround(s * 32000))));
  }
  return out;
}

}  // namespace

std::vector<WaveFile> DemoSounds() {
  // bop: a short falling blip.
  std::vector<double> bop(kSampleRate / 12);
  double phase = 0;
  for (size_t i = 0; i < bop.size(); ++i) {
    const double t = double(i) / kSampleRate;
    phase += 2 * kPi * (900 - 4000 * t) / kSampleRate;
    bop[i] = 0.7 * std::sin(phase) * std::exp(-t * 40);
  }
  // hi: a two-note chime.
  std::vector<double> hi(kSampleRate / 2);
  for (size_t i = 0; i < hi.size(); ++i) {
    const double t = double(i) / kSampleRate;
    const double second = t > 0.12 ? std::sin(2 * kPi * 1318.5 * t) * std::exp(-(t - 0.12) * 7) : 0;
    hi[i] = 0.35 * (std::sin(2 * kPi * 987.8 * t) * std::exp(-t * 7) + second);
  }
  return {{"bop.wav", Wave(bop)}, {"hi.wav", Wave(hi)}};
}

}  // namespace tiko::tool
