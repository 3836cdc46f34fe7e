#pragma once

#include <pcl/point_cloud.h>
#include <pcl/point_types.h>
#include <pcl/visualization/common/common.h>

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/KXScanPoint.h"
#include "scan/PlanePoint.h"

// Plain calculations behind the point-cloud view: placing sensor points in the
// metric scene plane, colouring them, and picking a point under the mouse.
// Nothing here touches a widget or a render window, so tests and benchmarks
// drive it directly.
namespace viewergeom {

struct Rgb {
  uint8_t r = 0;
  uint8_t g = 0;
  uint8_t b = 0;
};

// Five-segment blue -> cyan -> green -> yellow -> red ramp over 0..255.
Rgb IntensityRamp(uint8_t intensity);

// Packs a colour the way PCL stores it in PointXYZRGB::rgb (0x00RRGGBB).
inline uint32_t PackRgb(const Rgb& c) {
  return (static_cast<uint32_t>(c.r) << 16) | (static_cast<uint32_t>(c.g) << 8) | static_cast<uint32_t>(c.b);
}

// Sensor point -> metres in the plane z = 0; rotationSign -1 mirrors y for
// sensors that turn clockwise. The scan's conversion, so that the view, the
// PCD files and the library agree to the last bit.
inline void ToPlane(const KXScanPoint& point, int rotationSign, float* x, float* y) {
  const PlanePoint p = ToPlanePoint(point, rotationSign);
  *x = p.x;
  *y = p.y;
}

// Builds the coloured display cloud and the pick cloud (same positions plus
// intensity) for one frame. Both get exactly frame.size() points.
void BuildFrameClouds(const std::vector<KXScanPoint>& frame, int rotationSign,
                      pcl::PointCloud<pcl::PointXYZRGB>& display, pcl::PointCloud<pcl::PointXYZI>& pick);

// The cloud point nearest to the line of sight through window pixel (x, y)
// (origin bottom-left) of the given camera, if it lies less than 3 m from that
// line; ties go to the earlier point. Otherwise, and whenever the line of sight
// cannot be formed (parallel to z = 0, empty window, singular matrices), the
// origin with intensity 0.
pcl::PointXYZI PickNearest(const pcl::visualization::Camera& camera, double x, double y,
                           const pcl::PointCloud<pcl::PointXYZI>& cloud);

// Distance from the sensor in metres.
double PickedDistance(const pcl::PointXYZI& p);
// Angle as the sensor reported it, in degrees, always in [0, 360).
float PickedAngle(const pcl::PointXYZI& p, int rotationSign);
// Label text of a measured distance, e.g. "1.50m".
std::string DistanceLabel(double metres);

}  // namespace viewergeom
