#include <gtest/gtest.h>

#include <cmath>

#include "viewer/ViewerGeometry.h"

namespace {

using namespace viewergeom;

// The ramp as a table of real-valued segments: s = trunc(I / 63.75), then a
// step of 4 per unit from the segment's start.
Rgb ReferenceRamp(int i) {
  const int s = static_cast<int>(i / 63.75);
  switch (s) {
    case 0:
      return {0, static_cast<uint8_t>(4 * static_cast<int>(i)), 255};
    case 1:
      return {0, 255, static_cast<uint8_t>(255 - 4 * static_cast<int>(i - 63.75))};
    case 2:
      return {static_cast<uint8_t>(4 * static_cast<int>(i - 127.5)), 255, 0};
    case 3:
      return {255, static_cast<uint8_t>(255 - 4 * static_cast<int>(i - 191.25)), 0};
    default:
      return {255, 0, 0};
  }
}

TEST(IntensityRamp, SegmentBoundariesAndEveryValue) {
  struct Case {
    int i;
    int r, g, b;
  };
  const Case boundaries[] = {{0, 0, 0, 255},     {63, 0, 252, 255}, {64, 0, 255, 255},
                             {127, 0, 255, 3},   {128, 0, 255, 0},  {191, 252, 255, 0},
                             {192, 255, 255, 0}, {254, 255, 7, 0},  {255, 255, 0, 0}};
  for (const Case& c : boundaries) {
    const Rgb got = IntensityRamp(static_cast<uint8_t>(c.i));
    EXPECT_EQ(got.r, c.r) << c.i;
    EXPECT_EQ(got.g, c.g) << c.i;
    EXPECT_EQ(got.b, c.b) << c.i;
  }
  for (int i = 0; i <= 255; ++i) {
    const Rgb want = ReferenceRamp(i);
    const Rgb got = IntensityRamp(static_cast<uint8_t>(i));
    EXPECT_TRUE(got.r == want.r && got.g == want.g && got.b == want.b) << "intensity " << i;
  }
  EXPECT_EQ(PackRgb({0x12, 0x34, 0x56}), 0x00123456u);
}

// The viewer's top-down camera with a 800 x 400 window.
pcl::visualization::Camera TopDown() {
  pcl::visualization::Camera cam;
  cam.pos[0] = 0;
  cam.pos[1] = 0;
  cam.pos[2] = 40;
  cam.focal[0] = cam.focal[1] = cam.focal[2] = 0;
  cam.view[0] = 1;
  cam.view[1] = 0;
  cam.view[2] = 0;
  cam.clip[0] = 30;
  cam.clip[1] = 50;
  cam.fovy = 30.0 / 180.0 * M_PI;
  cam.window_size[0] = 800;
  cam.window_size[1] = 400;
  cam.window_pos[0] = cam.window_pos[1] = 0;
  return cam;
}

pcl::PointXYZI P(float x, float y, float i) {
  pcl::PointXYZI p;
  p.x = x;
  p.y = y;
  p.z = 0;
  p.intensity = i;
  return p;
}

// Window pixel of a scene point, through the camera's own matrices.
Eigen::Vector2d Project(const pcl::visualization::Camera& cam, double x, double y) {
  Eigen::Matrix4d v, p;
  cam.computeViewMatrix(v);
  cam.computeProjectionMatrix(p);
  Eigen::Vector4d h = p * v * Eigen::Vector4d(x, y, 0, 1);
  h /= h.w();
  return {(h.x() + 1) / 2 * cam.window_size[0], (h.y() + 1) / 2 * cam.window_size[1]};
}

TEST(PickNearest, NothingWithinThreeMetresGivesTheOrigin) {
  const auto cam = TopDown();
  pcl::PointCloud<pcl::PointXYZI> cloud;
  cloud.push_back(P(5, 5, 90));
  // 3.1 m and 4 m beside the point.
  for (double off : {3.1, 4.0}) {
    const Eigen::Vector2d at = Project(cam, 5 + off, 5);
    const pcl::PointXYZI got = PickNearest(cam, at.x(), at.y(), cloud);
    EXPECT_EQ(got.x, 0.0f) << off;
    EXPECT_EQ(got.y, 0.0f);
    EXPECT_EQ(got.intensity, 0.0f);
  }
  const Eigen::Vector2d near = Project(cam, 5 + 2.9, 5);
  EXPECT_EQ(PickNearest(cam, near.x(), near.y(), cloud).intensity, 90.0f);
  // An empty frame picks nothing.
  EXPECT_EQ(PickNearest(cam, 400, 200, pcl::PointCloud<pcl::PointXYZI>()).intensity, 0.0f);
}

TEST(PickNearest, TiesGoToTheLowerSlot) {
  const auto cam = TopDown();
  pcl::PointCloud<pcl::PointXYZI> cloud;
  cloud.push_back(P(2, 1, 10));
  cloud.push_back(P(2, -1, 20));
  cloud.push_back(P(2, 1, 30));  // same place as slot 0
  const Eigen::Vector2d mid = Project(cam, 2, 0);
  EXPECT_EQ(PickNearest(cam, mid.x(), mid.y(), cloud).intensity, 10.0f);
  const Eigen::Vector2d on = Project(cam, 2, 1);
  EXPECT_EQ(PickNearest(cam, on.x(), on.y(), cloud).intensity, 10.0f);
}

TEST(PickNearest, DegenerateViewsPickNothing) {
  pcl::PointCloud<pcl::PointXYZI> cloud;
  cloud.push_back(P(5, 0, 77));
  // Looking along +x inside the plane: the line of sight never meets z = 0
  // although it passes right through the point.
  auto side = TopDown();
  side.pos[0] = -10;
  side.pos[2] = 0;
  side.view[0] = 0;
  side.view[2] = 1;
  side.clip[0] = 1;
  side.clip[1] = 100;
  EXPECT_EQ(PickNearest(side, 400, 200, cloud).intensity, 0.0f);
  // A window of no size (widget not laid out yet).
  auto flat = TopDown();
  flat.window_size[0] = 0;
  flat.window_size[1] = 0;
  EXPECT_EQ(PickNearest(flat, 0, 0, cloud).intensity, 0.0f);
}

TEST(PickedValues, DistanceAngleAndLabel) {
  EXPECT_DOUBLE_EQ(PickedDistance(P(3, 4, 0)), 5.0);
  EXPECT_FLOAT_EQ(PickedAngle(P(1, 0, 0), 1), 0.0f);
  // Just below 360 must not round up to 360 itself.
  const float tiny = PickedAngle(P(1.5f, -1e-8f, 0), 1);
  EXPECT_GE(tiny, 0.0f);
  EXPECT_LT(tiny, 360.0f);

  EXPECT_EQ(DistanceLabel(1.5), "1.50m");
  EXPECT_EQ(DistanceLabel(1.234), "1.23m");
  EXPECT_EQ(DistanceLabel(0.0), "0.00m");
}

}  // namespace
