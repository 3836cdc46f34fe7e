#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "protocol/KXScanPoint.h"

// Corrections and filters applied to scan points and frames. Only the
// per-point filter keeps state (its two sliding windows).
class ScanFilter {
 public:
  ScanFilter();

  static float CalibrateAngle(float angle);
  static uint16_t CorrectDistance(uint16_t distance);

  KXScanPoint FilterPoint(KXScanPoint point);
  KXScanPoint RemoveSpike(KXScanPoint point);
  KXScanPoint SmoothPoint(KXScanPoint point);

  std::vector<KXScanPoint> FilterWaterNoise(const std::vector<KXScanPoint>& frame, double diffThr, int minRange,
                                            int maxRange, int intensityThr);
  void FilterDiffWindow(const std::vector<KXScanPoint>& in, std::vector<KXScanPoint>& out, unsigned window,
                        double diffThr, int minRange, int maxRange, int intensityThr);
  bool IsDiffWindowSmooth(const std::vector<double>& diffs, int index, unsigned window, double diffThr);
  void FilterIsolatedPoints(const std::vector<KXScanPoint>& in, std::vector<KXScanPoint>& out, double maxGap);

  static void FilterAngleEdge(std::vector<KXScanPoint>& frame, float margin);

 private:
  int spikeWindowSize;
  int smoothWindowSize;
  std::deque<KXScanPoint> spikeWindow;
  std::deque<KXScanPoint> smoothWindow;
};
