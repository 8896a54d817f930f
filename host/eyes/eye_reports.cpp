#include "host/eyes/eye_reports.h"

#include <algorithm>
#include <numeric>

namespace tiko::host {
namespace {

using Slots = std::array<SlotCopy, 2>;

// Renders a report keeps its slot fresh, as the player counts them.
constexpr int32_t kFreshRenders = 16;
// Two points that hide, so that each slot can hold one of them.
constexpr EyePoint kHidePoints[] = {{-1, -1}, {-2, -2}};
// Where an eye may be reported instead of its true point, the true point
// first. The player's truncations draw an actor up to a pixel left of and
// below its point, so moves to the right and up come first.
constexpr EyePoint kNudges[] = {{0, 0}, {1, 0}, {0, -1}, {-1, 0}, {0, 1}};
constexpr size_t kNudgeCount = std::size(kNudges);

bool Same(const EyePoint& a, const EyePoint& b) { return a.x == b.x && a.y == b.y; }
bool Hides(const EyePoint& p) { return p.x < 0 || p.y < 0; }

// What one frame asks of the slots: both hidden, or each seen eye in its
// own slot.
struct Frame {
  bool hide = false;
  SeenEyes eyes;
};

// One report, taken as the player takes it.
void Report(Slots& slots, const EyePoint& point) {
  for (SlotCopy& slot : slots) {
    if (Same(slot.at, point)) {
      slot.countdown = kFreshRenders;
      return;
    }
  }
  SlotCopy& slot = slots[0].countdown > slots[1].countdown ? slots[1] : slots[0];
  slot.at = point;
  slot.countdown = kFreshRenders;
  if (Hides(point)) {
    slot.shown = false;
    slot.fit = SlotCopy::kSized;
  } else if (!slot.shown) {
    slot.shown = true;
    slot.fit = SlotCopy::kAppearing;
  } else if (slot.fit == SlotCopy::kUnsized) {
    slot.fit = SlotCopy::kSized;
  }
}

// The render that follows the reports.
void Render(Slots& slots) {
  for (SlotCopy& slot : slots) {
    if (slot.countdown > 0 && --slot.countdown == 0) slot.shown = false;
    slot.lease = std::max(slot.lease - 1, 0);
    if (slot.fit == SlotCopy::kAppearing) slot.fit = SlotCopy::kUnsized;
  }
}

// Whether reports that turned `before` into `after`, sending the seen eyes
// as `sent`, did what the frame asks.
bool Gives(const Frame& frame, const Slots& before, const Slots& after, const std::array<EyePoint, 2>& sent) {
  for (size_t i = 0; i < 2; ++i) {
    const SlotCopy& was = before[i];
    const SlotCopy& is = after[i];
    if (frame.hide) {
      // Holding a negative point, the slot matches no real eye later on.
      if (is.shown || !Hides(is.at)) return false;
    } else if (frame.eyes[i]) {
      if (!is.shown || !Same(is.at, sent[i]) || is.countdown != kFreshRenders || is.fit == SlotCopy::kUnsized) {
        return false;
      }
    } else {
      // An eye out of sight stays as the player alone would have left it;
      // a countdown of 1 runs out in this frame's render.
      const bool keep = was.shown && was.lease > 1;
      const bool visible = is.shown && is.countdown > 1;
      if (visible != keep || (keep && !Same(is.at, was.at))) return false;
    }
  }
  return true;
}

// The reports that may go besides the eyes' own, none first, then one, then
// two: the point a slot holds, to keep it fresh, and the points that hide.
std::vector<std::vector<EyePoint>> Extras(const Slots& slots) {
  const EyePoint spare[] = {slots[0].at, slots[1].at, kHidePoints[0], kHidePoints[1]};
  std::vector<std::vector<EyePoint>> sets(1);
  for (const EyePoint& a : spare) sets.push_back({a});
  for (size_t a = 0; a < std::size(spare); ++a) {
    for (size_t b = a + 1; b < std::size(spare); ++b) sets.push_back({spare[a], spare[b]});
  }
  return sets;
}

// The nudges of the two eyes to try, fewer eyes moved first; an eye that is
// not reported takes none.
std::vector<std::array<size_t, 2>> NudgePairs(const Frame& frame) {
  std::vector<std::array<size_t, 2>> pairs;
  for (size_t first = 0; first < (frame.eyes[0] ? kNudgeCount : 1); ++first) {
    for (size_t second = 0; second < (frame.eyes[1] ? kNudgeCount : 1); ++second) pairs.push_back({first, second});
  }
  std::stable_sort(pairs.begin(), pairs.end(), [](const auto& a, const auto& b) {
    return (a[0] != 0) + (a[1] != 0) < (b[0] != 0) + (b[1] != 0);
  });
  return pairs;
}

// The first way of reporting the frame that does what it asks, trying
// fewer reports first, then fewer eyes moved, then the eyes in their own
// order; none when no way does.
std::optional<std::vector<EyePoint>> Plan(const Frame& frame, const Slots& slots) {
  for (const std::vector<EyePoint>& extras : Extras(slots)) {
    for (const std::array<size_t, 2>& nudge : NudgePairs(frame)) {
      std::array<EyePoint, 2> sent{};
      std::vector<EyePoint> points;
      for (size_t i = 0; i < 2; ++i) {
        if (!frame.eyes[i]) continue;
        sent[i] = EyePoint{frame.eyes[i]->x + kNudges[nudge[i]].x, frame.eyes[i]->y + kNudges[nudge[i]].y};
        points.push_back(sent[i]);
      }
      points.insert(points.end(), extras.begin(), extras.end());
      std::vector<size_t> order(points.size());
      std::iota(order.begin(), order.end(), size_t{0});
      do {
        Slots after = slots;
        for (const size_t at : order) Report(after, points[at]);
        if (Gives(frame, slots, after, sent)) {
          std::vector<EyePoint> reports;
          for (const size_t at : order) reports.push_back(points[at]);
          return reports;
        }
      } while (std::next_permutation(order.begin(), order.end()));
    }
  }
  return std::nullopt;
}

}  // namespace

std::vector<EyePoint> EyeReporter::Next(const std::vector<EyePoint>& seen) {
  SeenEyes eyes;
  for (size_t i = 0; i < eyes.size() && i < seen.size(); ++i) eyes[i] = seen[i];
  return Next(eyes);
}

std::vector<EyePoint> EyeReporter::Next(const SeenEyes& seen) {
  Frame frame;
  frame.hide = std::any_of(seen.begin(), seen.end(), [](const auto& eye) { return eye && Hides(*eye); });
  if (!frame.hide) frame.eyes = seen;
  std::optional<std::vector<EyePoint>> reports = Plan(frame, slots_);
  if (!reports) {
    // No way found: the eyes go as they are, and the player's own rules
    // decide.
    reports.emplace();
    if (frame.hide) reports->assign(std::begin(kHidePoints), std::end(kHidePoints));
    for (const std::optional<EyePoint>& eye : frame.eyes) {
      if (eye) reports->push_back(*eye);
    }
  }
  for (const EyePoint& point : *reports) Report(slots_, point);
  for (size_t i = 0; i < slots_.size(); ++i) {
    if (frame.hide) slots_[i].lease = 0;
    if (frame.eyes[i]) slots_[i].lease = kFreshRenders;
  }
  Render(slots_);
  return *reports;
}

void EyeReporter::PackageChanged() {
  for (SlotCopy& slot : slots_) {
    slot.shown = false;
    slot.fit = SlotCopy::kSized;
  }
}

void EyeReporter::Reset() { slots_ = {}; }

}  // namespace tiko::host
