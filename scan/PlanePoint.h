#pragma once

#include "protocol/KXScanPoint.h"

// A point in the plane of the scan, in metres: x along 0 degrees, y along 90
// degrees for a sensor turning counter-clockwise.
struct PlanePoint {
  float x = 0.0f;
  float y = 0.0f;
};

// The view's conversion, with the same single- and double-precision steps, so
// that PCD files and the library give the coordinates the view draws;
// `rotationSign` +1 is counter-clockwise, -1 clockwise.
PlanePoint ToPlanePoint(const KXScanPoint& point, int rotationSign = 1);
