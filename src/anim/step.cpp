#include "anim/step.h"

#include "anim/sound.h"
#include "anim/wrap.h"
#include "image/scale.h"
#include "package/fetch.h"

namespace tiko {
namespace {

int32_t ApplySize(uint32_t mode, int32_t size, int16_t value) {
  if (mode == kSizeSet) return value;
  if (mode == kSizeAdd) return Wrap32(int64_t{size} + value);
  return size;
}

// Moves one axis by the step's mode; returns true on an edge hit. `delta` is
// the step's own field, which bouncing negates for the next pass.
bool ApplyPosition(uint32_t mode, int32_t* position, int32_t size, int16_t* delta, int32_t limit) {
  const int32_t d = *delta;
  switch (mode) {
    case kPosSet:
      *position = d;
      return false;
    case kPosAdd:
      *position = Wrap32(int64_t{*position} + d);
      return false;
    case kPosWrap:
      *position = Wrap32(int64_t{*position} + d);
      if (Wrap32(int64_t{*position} + size) < 0) {  // wholly off the low edge
        *position = limit;
        return true;
      }
      if (*position > limit) {  // wholly off the high edge
        *position = Wrap32(-int64_t{size});
        return true;
      }
      return false;
    case kPosClamp:
    case kPosBounce: {
      *position = Wrap32(int64_t{*position} + d);
      bool hit = false;
      if (*position < 0) {
        *position = 0;
        hit = true;
      } else if (Wrap32(int64_t{*position} + size) > limit) {
        *position = Wrap32(int64_t{limit} - size);
        hit = true;
      }
      if (hit && mode == kPosBounce) *delta = Wrap16(-d);
      return hit;
    }
    default:
      return false;
  }
}

// The next step index after `index` on the chosen path.
int32_t NextIndex(int32_t index, int32_t count) {
  // The loop runs over steps 1 .. count-1, so step 0 runs once at the start;
  // a one-step script has nowhere else to go and stays on it.
  if (count == 1) return 0;
  const int32_t next = (index + 1) % count;
  return next == 0 ? 1 : next;
}

void Advance(Actor* actor, const ActorStep& step, bool edgeHit) {
  const bool alternate =
      actor->altRepeatCount != 0 || (edgeHit && AltAdvanceMode(step) != kAltAdvanceNone);
  uint32_t mode;
  int32_t param;
  int32_t* counter;
  if (alternate) {
    actor->repeatCount = 0;
    mode = AltAdvanceMode(step);
    param = step.altAdvanceParam;
    counter = &actor->altRepeatCount;
  } else {
    mode = AdvanceMode(step);
    param = step.advanceParam;
    counter = &actor->repeatCount;
  }
  const int32_t n = actor->stepCount;
  int32_t& index = actor->stepIndex;
  switch (mode) {
    case kAdvanceJump:
      index = (param >= 0 && param < n) ? param : n - 1;
      break;
    case kAdvanceSkip: {
      const int64_t target = int64_t{index} + param;
      index = target < 0 ? 0 : (target >= n ? n - 1 : static_cast<int32_t>(target));
      break;
    }
    case kAdvanceRepeat:
      if (*counter == 0) {
        if (param == 0) {
          index = NextIndex(index, n);
        } else {
          *counter = param;  // stay
        }
      } else if (*counter == 1) {
        *counter = 0;
        index = NextIndex(index, n);
      } else if (*counter >= 2) {
        --*counter;  // stay
      }
      // A negative counter holds the step for good.
      break;
    case kAdvanceHide:
      index = kHidden;
      break;
    default:
      index = NextIndex(index, n);
      break;
  }
}

}  // namespace

void RunActorStep(Package* package, Actor* actor, uint8_t format, int32_t frameWidth, int32_t frameHeight) {
  if (actor->stepIndex < 0 || actor->stepIndex >= actor->stepCount || actor->steps == nullptr) {
    actor->stepIndex = kHidden;
    return;
  }
  ActorStep& step = actor->steps[actor->stepIndex];

  if (step.cueMarker == kCueMarker) PlaySoundCue(package, step.cueName);

  if (PictureChange(step)) {
    // Compared as unsigned: every negative index is outside the table and
    // takes the picture away.
    const auto index = static_cast<uint32_t>(static_cast<int32_t>(step.pictureIndex));
    actor->picture = FetchPicture(package, index, format);
  }

  const uint32_t widthMode = WidthMode(step);
  const uint32_t heightMode = HeightMode(step);
  actor->width = ApplySize(widthMode, actor->width, step.width);
  actor->height = ApplySize(heightMode, actor->height, step.height);

  if (actor->picture != nullptr) {
    const int32_t storedWidth = actor->picture->storedEntry.width;
    const int32_t storedHeight = actor->picture->storedEntry.height;
    if (widthMode == kSizeProportional && heightMode == kSizeProportional) {
      actor->width = kStageWidth;
    } else if (widthMode == kSizeProportional) {
      // A picture stored without height has no proportions to keep.
      if (storedHeight != 0) actor->width = MulDiv32(storedWidth, actor->height, storedHeight);
    } else if (heightMode == kSizeProportional) {
      if (storedWidth != 0) actor->height = MulDiv32(storedHeight, actor->width, storedWidth);
    }
  }

  bool edgeHit = ApplyPosition(XMode(step), &actor->x, actor->width, &step.x, kStageWidth);
  edgeHit |= ApplyPosition(YMode(step), &actor->y, actor->height, &step.y, kStageHeight);

  const uint32_t opacityMode = OpacityMode(step);
  if (opacityMode == kOpacitySet) {
    actor->opacity = step.opacity;
  } else if (opacityMode == kOpacityAddClamp) {
    const int32_t opacity = Wrap32(int64_t{actor->opacity} + step.opacity);
    actor->opacity = opacity < 0 ? 0 : (opacity >= 100 ? 100 : opacity);
  }

  if (actor->picture != nullptr) {
    const int32_t pw = MulDiv32(frameWidth, actor->width, kStageWidth);
    const int32_t ph = MulDiv32(frameHeight, actor->height, kStageHeight);
    if (int64_t{pw} > int64_t{kMaxPictureToFrame} * frameWidth ||
        int64_t{ph} > int64_t{kMaxPictureToFrame} * frameHeight) {
      actor->picture = nullptr;
    } else if (pw != actor->picture->width || ph != actor->picture->height) {
      actor->picture = ResizeImage(package, actor->picture, pw, ph, 0);
    }
  }

  Advance(actor, step, edgeHit);
}

}  // namespace tiko
