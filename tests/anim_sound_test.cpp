#include <gtest/gtest.h>

#include "anim/sound.h"
#include "platform/testing/hooks.h"

namespace tiko {
namespace {

TEST(SoundCue, PathIsBuiltBesideThePackage) {
  const std::u16string dir252 = u"/" + std::u16string(250, u'd') + u"/";  // separator at 251
  const struct {
    std::u16string package;
    const char cue[4];
    std::u16string expected;  // empty: skipped
  } cases[] = {
      {u"/a/b/pkg.tiko", {'b', 'e', 'l', 'l'}, u"/a/b/bel.wav"},
      {u"/a/b/pkg.tiko", {'a', 'b', 0, 'x'}, u"/a/b/ab.wav"},
      {u"/a/b/pkg.tiko", {'z', 0, 'q', 'q'}, u"/a/b/z.wav"},
      {u"/a/b/pkg.tiko", {0, 'q', 'q', 'q'}, u"/a/b/.wav"},
      {u"C:\\shows\\x.tiko", {'h', 'i', 0, 0}, u"C:\\shows\\hi.wav"},
      {u"mixed/dir\\x.tiko", {'h', 'i', 0, 0}, u"mixed/dir\\hi.wav"},
      {u"pkg.tiko", {'h', 'i', 0, 0}, u"hi.wav"},  // no directory: the current one
      {u"/a/b/", {'h', 'i', 0, 0}, u"/a/b/hi.wav"},
      {u"/a/b/pkg.tiko", {'\xE9', 'a', 0, 0}, u"/a/b/\uFFE9a.wav"},  // bytes are sign-extended
      {dir252 + u"p", {'a', 'b', 'c', 0}, dir252 + u"abc.wav"},      // 252 + 3 + 4 + 1 = 260 fits
      {dir252 + u"x/p", {'a', 'b', 'c', 0}, u""},                     // 261 does not
      {dir252 + u"x/p", {'a', 0, 0, 0}, dir252 + u"x/a.wav"},         // a shorter cue does
  };
  for (const auto& c : cases) {
    Package package{};
    ASSERT_LT(c.package.size(), kPathUnits);
    std::copy(c.package.begin(), c.package.end(), package.path);
    counting::ResetSounds();
    PlaySoundCue(&package, c.cue);
    const auto& played = counting::PlayedWaves();
    if (c.expected.empty()) {
      EXPECT_TRUE(played.empty());
    } else {
      ASSERT_EQ(played.size(), 1u) << std::string(c.expected.begin(), c.expected.end());
      EXPECT_EQ(played[0], c.expected);
    }
  }
}

}  // namespace
}  // namespace tiko
