#include "viewer/ViewerGeometry.h"

#include <Eigen/Dense>
#include <cmath>
#include <cstdio>

namespace viewergeom {

Rgb IntensityRamp(uint8_t intensity) {
  const int i = intensity;
  if (i < 64) return {0, static_cast<uint8_t>(4 * i), 255};
  if (i < 128) return {0, 255, static_cast<uint8_t>(255 - 4 * (i - 64))};
  if (i < 192) return {static_cast<uint8_t>(4 * (i - 128)), 255, 0};
  if (i < 255) return {255, static_cast<uint8_t>(255 - 4 * (i - 192)), 0};
  return {255, 0, 0};
}

void BuildFrameClouds(const std::vector<KXScanPoint>& frame, int rotationSign,
                      pcl::PointCloud<pcl::PointXYZRGB>& display, pcl::PointCloud<pcl::PointXYZI>& pick) {
  const auto n = static_cast<uint32_t>(frame.size());
  display.resize(n);
  display.width = n;
  display.height = 1;
  pick.resize(n);
  pick.width = n;
  pick.height = 1;
  for (uint32_t k = 0; k < n; ++k) {
    const KXScanPoint& in = frame[k];
    float x = 0.0f;
    float y = 0.0f;
    ToPlane(in, rotationSign, &x, &y);
    pcl::PointXYZRGB& d = display[k];
    d.x = x;
    d.y = y;
    d.z = 0.0f;
    d.rgba = PackRgb(IntensityRamp(in.intensity));
    pcl::PointXYZI& p = pick[k];
    p.x = x;
    p.y = y;
    p.z = 0.0f;
    p.intensity = static_cast<float>(in.intensity);
  }
}

pcl::PointXYZI PickNearest(const pcl::visualization::Camera& camera, double x, double y,
                           const pcl::PointCloud<pcl::PointXYZI>& cloud) {
  pcl::PointXYZI result;
  result.x = result.y = result.z = 0.0f;
  result.intensity = 0.0f;
  if (cloud.empty() || !(camera.window_size[0] > 0.0) || !(camera.window_size[1] > 0.0)) return result;

  const double u = 2.0 * x / camera.window_size[0] - 1.0;
  const double v = 2.0 * y / camera.window_size[1] - 1.0;
  Eigen::Matrix4d view;
  Eigen::Matrix4d proj;
  camera.computeViewMatrix(view);
  camera.computeProjectionMatrix(proj);
  const Eigen::Matrix4d m = proj * view;
  Eigen::Matrix4d inv;
  bool invertible = false;
  m.computeInverseWithCheck(inv, invertible);
  if (!invertible) return result;
  const Eigen::Vector4d h = inv * Eigen::Vector4d(u, v, 1.0, 1.0);
  if (h.w() == 0.0) return result;
  const Eigen::Vector3d far(h.x() / h.w(), h.y() / h.w(), h.z() / h.w());
  const Eigen::Vector3d eye(camera.pos[0], camera.pos[1], camera.pos[2]);

  const Eigen::Vector3f dir = (far - eye).cast<float>();
  const double dz = far.z() - eye.z();
  // A line of sight parallel to the scan plane never meets it: nothing to pick.
  if (dz == 0.0) return result;
  const double t = (0.0 - eye.z()) / dz;
  const Eigen::Vector3f anchor(static_cast<float>(eye.x() + t * (far.x() - eye.x())),
                               static_cast<float>(eye.y() + t * (far.y() - eye.y())), 0.0f);
  const float dirNorm2 = dir.squaredNorm();
  if (!std::isfinite(dirNorm2) || dirNorm2 == 0.0f || !anchor.allFinite()) return result;

  float best = 9.0f;  // (3 m)^2
  for (const pcl::PointXYZI& q : cloud) {
    const Eigen::Vector3f c = (anchor - Eigen::Vector3f(q.x, q.y, q.z)).cross(dir);
    const float k = c.squaredNorm() / dirNorm2;
    if (k < best) {
      best = k;
      result = q;
    }
  }
  return result;
}

double PickedDistance(const pcl::PointXYZI& p) {
  const double x = p.x;
  const double y = p.y;
  return std::sqrt(x * x + y * y);
}

float PickedAngle(const pcl::PointXYZI& p, int rotationSign) {
  const float rad = std::atan2(static_cast<float>(rotationSign) * p.y, p.x);
  double deg = static_cast<double>(rad) * 180.0 / M_PI;
  if (deg < 0.0) deg += 360.0;
  float out = static_cast<float>(deg);
  // A tiny negative angle plus 360 can round up to exactly 360 in float;
  // that is the same direction as 0 and keeps the value inside [0, 360).
  if (out >= 360.0f) out = 0.0f;
  return out;
}

std::string DistanceLabel(double metres) {
  char text[50] = {0};
  std::snprintf(text, sizeof(text), "%.2fm", metres);
  return text;
}

}  // namespace viewergeom
