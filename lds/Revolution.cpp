#include "lds/Revolution.h"

#include "scan/PlanePoint.h"

namespace lds {

PlanePoint ToPlane(const Point& point, Rotation rotation) {
  const ::PlanePoint p =
      ToPlanePoint(KXScanPoint{point.angle, point.distance, point.intensity}, rotation == Rotation::Clockwise ? -1 : 1);
  return {p.x, p.y};
}

}  // namespace lds
