#include "host/eyes/eye_reports.h"

namespace tiko::host {
namespace {

// The report after the first one, which the actor takes with its real size.
constexpr int kResizedReport = 2;
constexpr int32_t kNudge = 1;

bool Same(const EyePoint& a, const EyePoint& b) { return a.x == b.x && a.y == b.y; }

}  // namespace

std::vector<EyePoint> EyeReporter::Next(const std::vector<EyePoint>& seen) {
  std::vector<EyePoint> reports;
  for (size_t eye = 0; eye < 2; ++eye) {
    Track& track = tracks_[eye];
    if (eye >= seen.size()) {
      track.frames = 0;
      continue;
    }
    EyePoint report = seen[eye];
    // A negative coordinate hides the actors: it is passed on as it is, and
    // the next visible report is a new appearance.
    const bool hides = report.x < 0 || report.y < 0;
    track.frames = hides ? 0 : track.frames + 1;
    if (track.frames == kResizedReport && Same(report, track.last)) report.x += kNudge;
    track.last = report;
    reports.push_back(report);
  }
  return reports;
}

}  // namespace tiko::host
