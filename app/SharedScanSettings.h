#pragma once

#include <atomic>
#include <cstdint>

#include "scan/FrameAssembler.h"

// The scan settings as the GUI thread changes them and the worker reads them
// on each pass: one atomic per field, so a pass never waits on a dialog.
struct SharedScanSettings {
  ScanSettings Load() const {
    ScanSettings s;
    s.enableAngleCalib = enableAngleCalib.load(std::memory_order_relaxed);
    s.enableAlgoFilter = enableAlgoFilter.load(std::memory_order_relaxed);
    s.enableDistCorrect = enableDistCorrect.load(std::memory_order_relaxed);
    s.enableAngleEdgeFilter = enableAngleEdgeFilter.load(std::memory_order_relaxed);
    s.edgeFilterMargin = edgeFilterMargin.load(std::memory_order_relaxed);
    s.enableWaterNoiseFilter = enableWaterNoiseFilter.load(std::memory_order_relaxed);
    s.diffThr = diffThr.load(std::memory_order_relaxed);
    s.filterMinRange = filterMinRange.load(std::memory_order_relaxed);
    s.filterMaxRange = filterMaxRange.load(std::memory_order_relaxed);
    s.filterIntensityThr = filterIntensityThr.load(std::memory_order_relaxed);
    return s;
  }

  // Every operator setting; the edge margin is none and stays as it is.
  void Store(const ScanSettings& s) {
    enableAngleCalib.store(s.enableAngleCalib);
    enableAlgoFilter.store(s.enableAlgoFilter);
    enableDistCorrect.store(s.enableDistCorrect);
    enableAngleEdgeFilter.store(s.enableAngleEdgeFilter);
    enableWaterNoiseFilter.store(s.enableWaterNoiseFilter);
    diffThr.store(s.diffThr);
    filterMinRange.store(s.filterMinRange);
    filterMaxRange.store(s.filterMaxRange);
    filterIntensityThr.store(s.filterIntensityThr);
  }

  std::atomic<bool> enableAngleCalib{true};
  std::atomic<bool> enableAlgoFilter{false};
  std::atomic<bool> enableDistCorrect{false};
  std::atomic<bool> enableAngleEdgeFilter{false};
  std::atomic<float> edgeFilterMargin{1.5f};
  std::atomic<bool> enableWaterNoiseFilter{false};
  std::atomic<double> diffThr{120.0};
  std::atomic<int32_t> filterMinRange{300};
  std::atomic<int32_t> filterMaxRange{1500};
  std::atomic<int32_t> filterIntensityThr{40};
};
