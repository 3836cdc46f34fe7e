#include "scan/RevolutionStats.h"

#include <algorithm>

namespace {

// Counters never go backwards, but a protocol object swapped under us must
// not turn into a huge unsigned difference.
uint64_t Since(uint64_t now, uint64_t before) { return now >= before ? now - before : 0; }

}  // namespace

void RevolutionStats::Count(const KXScanPoint& point) {
  ++points;
  if (point.distance == 0)
    ++emptyPoints;
  else
    distances.push_back(point.distance);
}

std::vector<RevolutionFigures> RevolutionStats::Add(const FrameAssembler::Result& result, const KXLinkStats& link,
                                                    float speedRpm, int64_t timeMs) {
  std::vector<RevolutionFigures> done;
  for (const KXScanPoint& point : result.filed) {
    if (!started) {
      started = true;
      lastEndMs = timeMs;
    }
    if (splitter.Begins(point)) done.push_back(Complete(link, speedRpm, timeMs));
    Count(point);
  }
  return done;
}

RevolutionFigures RevolutionStats::Complete(const KXLinkStats& link, float speedRpm, int64_t timeMs) {
  RevolutionFigures f;
  f.number = ++completed;
  f.timeMs = timeMs;
  f.durationMs = timeMs - lastEndMs;
  f.speedRpm = speedRpm;
  f.points = points;
  f.emptyPoints = emptyPoints;
  if (!distances.empty()) {
    const auto [lo, hi] = std::minmax_element(distances.begin(), distances.end());
    f.minMm = *lo;
    f.maxMm = *hi;
    const auto middle = distances.begin() + static_cast<std::ptrdiff_t>((distances.size() - 1) / 2);
    std::nth_element(distances.begin(), middle, distances.end());
    f.medianMm = *middle;
  }
  f.crcErrors = Since(link.crcErrors, base.crcErrors);
  f.skippedBytes = Since(link.skippedBytes, base.skippedBytes);
  base = link;
  lastEndMs = timeMs;
  points = emptyPoints = 0;
  distances.clear();
  return f;
}
