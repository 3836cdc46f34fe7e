#include "scan/PlanePoint.h"

#include <cmath>

PlanePoint ToPlanePoint(const KXScanPoint& point, int rotationSign) {
  const float a = static_cast<float>(static_cast<double>(point.angle) / 180.0 * M_PI);
  const float d = static_cast<float>(point.distance);
  const float dx = d * std::cos(a);
  const float dy = d * static_cast<float>(rotationSign) * std::sin(a);
  return {static_cast<float>(static_cast<double>(dx) * 0.001), static_cast<float>(static_cast<double>(dy) * 0.001)};
}
