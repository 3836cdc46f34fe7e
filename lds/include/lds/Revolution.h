#pragma once

#include <cstdint>
#include <vector>

#include "lds/Export.h"
#include "lds/LinkStats.h"
#include "lds/Settings.h"

namespace lds {

// One measured point.
struct Point {
  float angle = 0.0f;     // degrees, 0 to 360, after the offset and the calibration
  uint16_t distance = 0;  // millimetres; 0 where nothing was measured
  uint8_t intensity = 0;  // signal strength, 0 to 255
};

// A point in the plane of the scan, in metres: x along 0 degrees.
struct PlanePoint {
  float x = 0.0f;
  float y = 0.0f;
};

// The window's conversion: y along 90 degrees for a sensor turning
// counter-clockwise, along -90 degrees for one turning clockwise.
LDS_API PlanePoint ToPlane(const Point& point, Rotation rotation = Rotation::CounterClockwise);

// One whole revolution: the points measured between two passes of 0 degrees,
// in the order they were measured, with the corrections and the per-point
// filter of the settings applied. They are exactly the rows that
// `lds-record --csv --revolutions N` writes for that revolution with the same
// settings. The partial revolution before the first pass of 0 is never
// handed out.
struct Revolution {
  static constexpr int kFrameSlots = 600;

  int64_t number = 0;        // 1 for the first whole revolution, then counting up
  float speedRpm = 0.0f;     // rotation speed the sensor reported as the revolution ended, r/min
  uint16_t timestampMs = 0;  // the sensor's clock then, in ms (wraps at 65536)
  std::vector<Point> points;
  // The picture the window draws as this revolution ends: 600 slots of 0.6
  // degrees (slot k at k * 0.6 degrees), each holding the latest point filed
  // there, empty slots all zero, with the water-noise and edge filters of the
  // settings applied. Its first few slots already hold the start of the next
  // revolution, as on the window.
  std::vector<Point> frame;
  LinkStats link;  // the link counters as the revolution ended
};

}  // namespace lds
