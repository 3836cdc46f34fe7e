#include "scan/FrameAssembler.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

constexpr int kRevolutionJump = 300;  // a backward jump of half a turn or more ends a revolution
constexpr int kIdleLimit = 100;       // empty polls (about one second) before the link counts as idle

void ClearSlots(std::vector<KXScanPoint>& slotArray, int first, int last) {
  for (int k = first; k <= last; ++k) slotArray[k] = KXScanPoint{};
}

}  // namespace

FrameAssembler::FrameAssembler(ScanFilter& filter) : scanFilter(filter), slotArray(kSlotCount) {}

int FrameAssembler::SlotOfAngle(float angle) {
  const double scaled = static_cast<double>(angle / 0.6f) + 0.5;
  // Converting a value that no int can hold is undefined; such angles simply
  // have no slot.
  if (!(scaled > -2147483648.0 && scaled < 2147483648.0)) return -1;
  return static_cast<int>(scaled);
}

int FrameAssembler::FilingSlot(float angle) {
  const int slot = SlotOfAngle(angle);
  if (slot == kSlotCount) return 0;
  if (slot < 0 || slot > kSlotCount) return -1;
  return slot;
}

std::vector<KXScanPoint> FrameAssembler::Reset() {
  ClearSlots(slotArray, 0, kSlotCount - 1);
  return slotArray;
}

FrameAssembler::Result FrameAssembler::Step(std::vector<KXScanPoint> batch, const ScanSettings& settings,
                                            bool recording) {
  Result result;
  if (batch.empty()) {
    if (idleCount >= kIdleLimit) {
      result.outcome = Outcome::IdleTimeout;
    } else {
      ++idleCount;
      result.outcome = Outcome::Idle;
    }
    return result;
  }

  if (settings.enableAngleCalib) {
    for (KXScanPoint& p : batch) p.angle = ScanFilter::CalibrateAngle(p.angle);
  }

  const float endAngle = batch.back().angle;
  const int endSlot = FilingSlot(endAngle);
  result.endAngle = endAngle;
  if (endSlot < 0) {
    result.outcome = Outcome::Dropped;
    result.anomaly = Anomaly::AbnormalAngle;
    return result;
  }

  result.filed.reserve(batch.size());
  result.filedFrom.reserve(batch.size());
  bool frameComplete = false;
  if (endSlot >= lastEndSlot) {
    ClearSlots(slotArray, lastEndSlot + 1, endSlot);
  } else if (lastEndSlot - endSlot >= kRevolutionJump) {
    ClearSlots(slotArray, lastEndSlot + 1, kSlotCount - 1);
    ClearSlots(slotArray, 0, endSlot);
    frameComplete = true;
  } else {
    result.anomaly = Anomaly::AbnormalAngleChange;
    result.lastEndAngle = lastEndAngle;
  }
  lastEndSlot = endSlot;
  lastEndAngle = endAngle;

  for (uint32_t k = 0; k < batch.size(); ++k) {
    KXScanPoint point = batch[k];
    if (settings.enableAlgoFilter) {
      point = scanFilter.FilterPoint(point);
      if (point.distance == 0) continue;
    }
    if (settings.enableDistCorrect) point.distance = ScanFilter::CorrectDistance(point.distance);
    const int slot = FilingSlot(point.angle);
    if (slot < 0) continue;
    slotArray[slot] = point;
    result.filed.push_back(point);
    result.filedFrom.push_back(k);
    if (recording) result.csvRows.push_back(point);
  }

  idleCount = 0;
  result.outcome = Outcome::Filed;

  if (frameComplete) {
    // The frame filters work on a copy: the slots keep the unfiltered points
    // that the next revolution builds on.
    std::vector<KXScanPoint> frame =
        settings.enableWaterNoiseFilter
            ? scanFilter.FilterWaterNoise(slotArray, settings.diffThr, settings.filterMinRange, settings.filterMaxRange,
                                          settings.filterIntensityThr)
            : slotArray;
    if (settings.enableAngleEdgeFilter) ScanFilter::FilterAngleEdge(frame, settings.edgeFilterMargin);
    result.frame = std::move(frame);
    result.frameReady = true;
  }
  return result;
}

bool FrameAssembler::InBatches(std::vector<KXScanPoint> points,
                               const std::function<bool(std::vector<KXScanPoint>)>& step) {
  if (points.size() <= kMaxBatchPoints) return step(std::move(points));
  for (size_t first = 0; first < points.size(); first += kMaxBatchPoints) {
    const size_t last = std::min(points.size(), first + kMaxBatchPoints);
    if (!step(std::vector<KXScanPoint>(points.begin() + static_cast<std::ptrdiff_t>(first),
                                       points.begin() + static_cast<std::ptrdiff_t>(last))))
      return false;
  }
  return true;
}
