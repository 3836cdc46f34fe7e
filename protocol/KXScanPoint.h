#pragma once

#include <cstdint>

// One measured point as decoded from a measurement packet.
struct KXScanPoint {
  float angle = 0.0f;      // degrees, offset applied, brought once into [0, 360)
  uint16_t distance = 0;   // millimetres
  uint8_t intensity = 0;   // signal strength 0..255
};

inline bool operator==(const KXScanPoint& a, const KXScanPoint& b) {
  return a.angle == b.angle && a.distance == b.distance && a.intensity == b.intensity;
}
inline bool operator!=(const KXScanPoint& a, const KXScanPoint& b) { return !(a == b); }
