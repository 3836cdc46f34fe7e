#pragma once

#include <cstdint>

namespace sim {

// What a ray from the sensor hits first.
struct SimHit {
  double distanceMm = 0.0;
  double incidenceDeg = 0.0;  // angle between the ray and the surface normal
  double reflectivity = 0.0;  // 0..1, property of the surface
};

// A rectangular room seen by a sensor standing off-centre, with a round
// pillar and a box in it. Coordinates are millimetres with the room's corner
// at the origin; angle 0 looks along +x and angles grow counter-clockwise.
// Everything here is exact geometry: noise is added by the packet generator.
class SimScene {
 public:
  static constexpr double kRoomWidthMm = 8000.0;  // along x
  static constexpr double kRoomDepthMm = 6000.0;  // along y
  static constexpr double kSensorXMm = 3200.0;
  static constexpr double kSensorYMm = 2600.0;
  static constexpr double kPillarXMm = 5400.0;
  static constexpr double kPillarYMm = 4100.0;
  static constexpr double kPillarRadiusMm = 250.0;
  static constexpr double kBoxMinXMm = 1200.0;
  static constexpr double kBoxMaxXMm = 1800.0;
  static constexpr double kBoxMinYMm = 800.0;
  static constexpr double kBoxMaxYMm = 1300.0;

  SimHit Cast(double angleDeg) const;
  // Distance in millimetres from the sensor to the first surface at this angle.
  double TrueDistanceMm(double angleDeg) const;
  // Noise-free signal strength at this angle: falls with distance and with
  // the slant at which the ray meets the surface.
  uint8_t TrueIntensity(double angleDeg) const;
  static uint8_t IntensityFor(const SimHit& hit);
};

}  // namespace sim
