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

std::optional<RevolutionFigures> RevolutionStats::Add(const FrameAssembler::Result& result, const KXLinkStats& link,
                                                      float speedRpm, int64_t timeMs) {
  const std::vector<KXScanPoint>& filed = result.filed;
  if (!started && !filed.empty()) {
    started = true;
    lastEndMs = timeMs;
  }
  // Where the points pass 0 degrees: a step back of half a turn or more, the
  // assembler's rule for a completed revolution.
  size_t split = filed.size();
  for (size_t i = 0; i < filed.size(); ++i) {
    const int slot = FrameAssembler::FilingSlot(filed[i].angle);
    if (result.frameReady && split == filed.size() && lastSlot >= 0 &&
        lastSlot - slot >= FrameAssembler::kSlotCount / 2)
      split = i;
    lastSlot = slot;
  }
  for (size_t i = 0; i < split; ++i) Count(filed[i]);
  if (!result.frameReady) return std::nullopt;

  RevolutionFigures f;
  f.number = ++completed;
  f.timeMs = timeMs;
  f.durationMs = started ? timeMs - lastEndMs : 0;
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
  started = true;
  points = emptyPoints = 0;
  distances.clear();
  for (size_t i = split; i < filed.size(); ++i) Count(filed[i]);
  return f;
}
