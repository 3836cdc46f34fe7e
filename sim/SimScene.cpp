#include "sim/SimScene.h"

#include <algorithm>
#include <cmath>

namespace sim {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kWallReflectivity = 0.85;
constexpr double kPillarReflectivity = 0.6;
constexpr double kBoxReflectivity = 1.0;

struct Ray {
  double ox, oy, dx, dy;
};

// Keeps the nearest hit; `nx, ny` is the surface normal (any sign).
void Consider(SimHit& best, double t, double nx, double ny, double refl, const Ray& r) {
  if (!(t > 1e-9) || t >= best.distanceMm) return;
  double cosInc = std::fabs(nx * r.dx + ny * r.dy) / std::hypot(nx, ny);
  best.distanceMm = t;
  best.incidenceDeg = std::acos(std::min(1.0, cosInc)) * 180.0 / kPi;
  best.reflectivity = refl;
}

// Ray against an axis-parallel segment x = c, y in [lo, hi] (or the swap).
void HitVertical(SimHit& best, const Ray& r, double x, double ylo, double yhi, double refl) {
  if (r.dx == 0.0) return;
  double t = (x - r.ox) / r.dx;
  double y = r.oy + t * r.dy;
  if (y >= ylo && y <= yhi) Consider(best, t, 1.0, 0.0, refl, r);
}
void HitHorizontal(SimHit& best, const Ray& r, double y, double xlo, double xhi, double refl) {
  if (r.dy == 0.0) return;
  double t = (y - r.oy) / r.dy;
  double x = r.ox + t * r.dx;
  if (x >= xlo && x <= xhi) Consider(best, t, 0.0, 1.0, refl, r);
}

}  // namespace

SimHit SimScene::Cast(double angleDeg) const {
  double a = angleDeg * kPi / 180.0;
  Ray r{kSensorXMm, kSensorYMm, std::cos(a), std::sin(a)};
  SimHit best;
  best.distanceMm = 1e12;

  HitVertical(best, r, 0.0, 0.0, kRoomDepthMm, kWallReflectivity);
  HitVertical(best, r, kRoomWidthMm, 0.0, kRoomDepthMm, kWallReflectivity);
  HitHorizontal(best, r, 0.0, 0.0, kRoomWidthMm, kWallReflectivity);
  HitHorizontal(best, r, kRoomDepthMm, 0.0, kRoomWidthMm, kWallReflectivity);

  HitVertical(best, r, kBoxMinXMm, kBoxMinYMm, kBoxMaxYMm, kBoxReflectivity);
  HitVertical(best, r, kBoxMaxXMm, kBoxMinYMm, kBoxMaxYMm, kBoxReflectivity);
  HitHorizontal(best, r, kBoxMinYMm, kBoxMinXMm, kBoxMaxXMm, kBoxReflectivity);
  HitHorizontal(best, r, kBoxMaxYMm, kBoxMinXMm, kBoxMaxXMm, kBoxReflectivity);

  // Pillar: nearest root of |o + t d - c| = radius.
  double fx = r.ox - kPillarXMm, fy = r.oy - kPillarYMm;
  double b = fx * r.dx + fy * r.dy;
  double c = fx * fx + fy * fy - kPillarRadiusMm * kPillarRadiusMm;
  double disc = b * b - c;
  if (disc >= 0.0) {
    double t = -b - std::sqrt(disc);
    double hx = r.ox + t * r.dx - kPillarXMm, hy = r.oy + t * r.dy - kPillarYMm;
    Consider(best, t, hx, hy, kPillarReflectivity, r);
  }
  return best;
}

double SimScene::TrueDistanceMm(double angleDeg) const { return Cast(angleDeg).distanceMm; }

uint8_t SimScene::TrueIntensity(double angleDeg) const { return IntensityFor(Cast(angleDeg)); }

uint8_t SimScene::IntensityFor(const SimHit& hit) {
  double range = 30.0 + 220.0 * std::exp(-hit.distanceMm / 4000.0);
  double slant = 0.4 + 0.6 * std::cos(hit.incidenceDeg * kPi / 180.0);
  double value = hit.reflectivity * range * slant;
  return static_cast<uint8_t>(std::clamp(std::lround(value), 1L, 255L));
}

}  // namespace sim
