#include "scan/ScanFilter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kMinDistance = 100;
constexpr int kMaxDistance = 10000;

bool OutOfRange(uint16_t distance) { return distance < kMinDistance || distance > kMaxDistance; }

// Remainder of an angle by one 60-degree sector, keeping the angle's sign.
float SectorOffset(float angle) { return static_cast<float>(std::fmod(static_cast<double>(angle), 60.0)); }

}  // namespace

ScanFilter::ScanFilter() : spikeWindowSize(5), smoothWindowSize(5) {}

float ScanFilter::CalibrateAngle(float angle) {
  // Each 60-degree sector looks through a flat window whose normal points at
  // the sector's centre; undo the refraction (index ratio 1.33) there.
  const float p = SectorOffset(angle);
  const double theta = (30.0 - p) / 180.0 * kPi;
  const float r = static_cast<float>(std::asin(std::sin(theta) / 1.33) / kPi * 180.0);
  return (angle - p) + (30.0f - r);
}

uint16_t ScanFilter::CorrectDistance(uint16_t distance) {
  float k = 0.0f;
  float c = 0.0f;
  if (distance == 0 || distance > kMaxDistance) {
    return distance;
  } else if (distance <= 400) {
    c = -65.0f;
  } else if (distance <= 750) {
    k = 0.0549f;
    c = -86.593f;
  } else {
    c = -45.0f;
  }
  const float d = static_cast<float>(distance);
  return static_cast<uint16_t>(std::trunc(d - (d * k + c)));
}

KXScanPoint ScanFilter::FilterPoint(KXScanPoint point) {
  if (OutOfRange(point.distance)) return KXScanPoint{};
  const KXScanPoint q = RemoveSpike(point);
  if (OutOfRange(q.distance)) return KXScanPoint{};
  return SmoothPoint(q);
}

KXScanPoint ScanFilter::RemoveSpike(KXScanPoint point) {
  spikeWindow.push_back(point);
  if (static_cast<int>(spikeWindow.size()) > spikeWindowSize) spikeWindow.pop_front();
  if (static_cast<int>(spikeWindow.size()) < spikeWindowSize) return KXScanPoint{};

  const int h = (spikeWindowSize - 1) / 2;
  const KXScanPoint centre = spikeWindow[h];
  const float c = centre.distance;

  float beforeSum = 0.0f;
  for (int i = 0; i < h; ++i) {
    if (OutOfRange(spikeWindow[i].distance)) return centre;
    beforeSum += spikeWindow[i].distance;
  }
  const float beforeMean = beforeSum / h;

  float afterSum = 0.0f;
  for (int i = h + 1; i < spikeWindowSize; ++i) {
    if (OutOfRange(spikeWindow[i].distance)) return centre;
    afterSum += spikeWindow[i].distance;
  }
  const float afterMean = afterSum / h;

  // A spike stands out from both sides in opposite directions.
  const float rise = c - beforeMean;
  const float fall = afterMean - c;
  if (fall * rise < 0.0f && std::fabs(rise) > 50.0f && std::fabs(fall) > 50.0f) return KXScanPoint{};
  return centre;
}

KXScanPoint ScanFilter::SmoothPoint(KXScanPoint point) {
  smoothWindow.push_back(point);
  if (static_cast<int>(smoothWindow.size()) > smoothWindowSize) smoothWindow.pop_front();
  if (static_cast<int>(smoothWindow.size()) < smoothWindowSize) return KXScanPoint{};

  const KXScanPoint& newest = smoothWindow.back();
  const KXScanPoint& oldest = smoothWindow.front();
  float span = newest.angle - oldest.angle;
  if (span < 0.0f) span += 360.0f;
  // Across a gap in the data the neighbours are not the same surface.
  if (span > 10.0f) return newest;

  // Without intensity the distance kernel has no width: no usable output.
  if (newest.intensity == 0) return KXScanPoint{newest.angle, 0, 0};

  const double s = newest.distance < 700 ? 25.0 : 10.0;
  const double intensityDen = 2.0 * s * s;
  const double distanceWidth = 2.0 * s * std::sqrt(static_cast<double>(newest.intensity));
  const double distanceDen = 2.0 * distanceWidth * distanceWidth;
  double weightSum = 0.0;
  double distanceSum = 0.0;
  double intensitySum = 0.0;
  for (const KXScanPoint& p : smoothWindow) {
    const double di = static_cast<double>(p.intensity) - newest.intensity;
    const double dd = static_cast<double>(p.distance) - newest.distance;
    const double w = std::exp(-(di * di) / intensityDen) * std::exp(-(dd * dd) / distanceDen);
    weightSum += w;
    distanceSum += w * p.distance;
    intensitySum += w * p.intensity;
  }
  KXScanPoint out;
  out.angle = newest.angle;
  out.distance = static_cast<uint16_t>(std::trunc(distanceSum / weightSum));
  out.intensity = static_cast<uint8_t>(std::trunc(intensitySum / weightSum));
  return out;
}

std::vector<KXScanPoint> ScanFilter::FilterWaterNoise(const std::vector<KXScanPoint>& frame, double diffThr,
                                                      int minRange, int maxRange, int intensityThr) {
  std::vector<KXScanPoint> first;
  FilterDiffWindow(frame, first, 3, diffThr, minRange, maxRange, intensityThr);
  std::vector<KXScanPoint> second;
  FilterDiffWindow(first, second, 3, diffThr, minRange, maxRange, intensityThr);
  std::vector<KXScanPoint> result;
  FilterIsolatedPoints(second, result, 3.0);
  return result;
}

void ScanFilter::FilterDiffWindow(const std::vector<KXScanPoint>& in, std::vector<KXScanPoint>& out, unsigned window,
                                  double diffThr, int minRange, int maxRange, int intensityThr) {
  out = in;
  if (in.size() <= static_cast<size_t>(window) + 1) {
    std::printf("Scan ranges size is too small for set window: size = %d, window = %d\n", static_cast<int>(in.size()),
                static_cast<int>(window));
    return;
  }

  std::vector<size_t> positions;
  positions.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i].distance != 0) positions.push_back(i);
  }
  const size_t n = positions.size();
  if (n == 0) return;

  std::vector<double> diffs(n);
  for (size_t j = 0; j < n; ++j) {
    const size_t next = (j + 1 == n) ? 0 : j + 1;
    diffs[j] = static_cast<double>(in[positions[j]].distance) - static_cast<double>(in[positions[next]].distance);
  }

  // Every decision reads the input's differences only, so the order in which
  // points are cleared cannot influence later decisions of the same pass.
  for (size_t j = 0; j < n; ++j) {
    const KXScanPoint& p = in[positions[j]];
    const int d = p.distance;
    const int intensity = p.intensity;
    const bool isProtected = d <= minRange || d >= maxRange || intensity >= intensityThr;
    if (isProtected) continue;
    if (IsDiffWindowSmooth(diffs, static_cast<int>(j), window, diffThr)) continue;
    out[positions[j]] = KXScanPoint{};
  }
}

bool ScanFilter::IsDiffWindowSmooth(const std::vector<double>& diffs, int index, unsigned window, double diffThr) {
  const long n = static_cast<long>(diffs.size());
  const long w = static_cast<long>(window);
  if (w == 0 || n < 2 * w) return false;
  double maxDiff = -INFINITY;
  double minDiff = INFINITY;
  for (long k = -w; k < w; ++k) {
    long pos = (static_cast<long>(index) + k) % n;
    if (pos < 0) pos += n;
    maxDiff = std::max(maxDiff, diffs[pos]);
    minDiff = std::min(minDiff, diffs[pos]);
  }
  return maxDiff - minDiff <= diffThr;
}

void ScanFilter::FilterIsolatedPoints(const std::vector<KXScanPoint>& in, std::vector<KXScanPoint>& out,
                                      double maxGap) {
  out = in;
  if (in.size() < 3) return;

  std::vector<size_t> positions;
  positions.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i].distance >= 1 && in[i].distance <= 9999) positions.push_back(i);
  }
  const size_t n = positions.size();
  for (size_t j = 0; j < n; ++j) {
    const float prev = in[positions[j == 0 ? n - 1 : j - 1]].angle;
    const float next = in[positions[j + 1 == n ? 0 : j + 1]].angle;
    // The neighbours' span is measured forward from the previous neighbour to
    // the next one. Only around 0 degrees (the first and the last valid point
    // of a full circle) is the plain difference negative; adding the turn
    // there keeps those two points when their neighbours across 0 are close.
    float span = next - prev;
    if (span < 0.0f) span += 360.0f;
    if (span > maxGap) out[positions[j]] = KXScanPoint{};
  }
}

void ScanFilter::FilterAngleEdge(std::vector<KXScanPoint>& frame, float margin) {
  for (KXScanPoint& p : frame) {
    const float offset = SectorOffset(p.angle);
    if (offset < 8.0f + margin || offset > 52.0f - margin) {
      p.distance = 0;
      p.intensity = 0;
    }
  }
}
