#pragma once

#include <string>

#include "lds/Export.h"

namespace lds {

// Which way the sensor turns, seen from above. It changes no angle: it only
// says where the y axis points when angles become x and y (see ToPlane).
enum class Rotation { CounterClockwise, Clockwise };

// The scan settings, with the names and defaults of lds-record and the
// window's 显示 menu: angle calibration on, every other filter off. Changing
// them on an open sensor takes effect with the next points.
struct LDS_API Settings {
  bool angleCalib = true;    // angle calibration (lds-record --no-calib switches it off)
  bool algoFilter = false;   // per-point spike and smoothing filter; the points it rejects are dropped
  bool distCorrect = false;  // distance correction
  // Water-noise filter on each frame: a point is cleared when its distance
  // lies between minRange and maxRange (mm, both excluded), its intensity is
  // below intensityThr, and the distance steps around it spread by more
  // than diffThr (mm).
  bool waterFilter = false;
  double diffThr = 120.0;  // 0 to 10000
  int minRange = 300;      // 0 to 10000
  int maxRange = 1500;     // 0 to 10000
  int intensityThr = 40;   // 0 to 10000
  // Edge filter on each frame: clears the points near the edges of the
  // sensor's 60-degree sectors; edgeMargin (degrees, 0 to 22) widens the cut.
  bool edgeFilter = false;
  float edgeMargin = 1.5f;
  float angleOffset = 0.0f;  // degrees added to every angle as it is decoded, -360 to 360
  Rotation rotation = Rotation::CounterClockwise;

  // Empty when every value is valid; otherwise what is wrong, in one line
  // ("angleOffset must lie between -360 and 360, not 400").
  std::string Check() const;
};

}  // namespace lds
