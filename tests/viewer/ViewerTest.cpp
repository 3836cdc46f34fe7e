// The point-cloud view: its plain geometry as tables, and the widget judged
// by what the display shows, with no input beyond the call under test.
#include <gtest/gtest.h>
#include <vtkCoordinate.h>
#include <vtkNew.h>
#include <vtkRenderWindow.h>
#include <vtkRenderer.h>
#include <vtkRendererCollection.h>
#include <vtkWeakPointer.h>

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

#include "viewer/SceneWidget.h"
#include "viewer/ViewerGeometry.h"
#include "viewer/vtkViewer.h"
// Last: it brings Xlib's macros.
#include "tests/support/ScreenPixels.h"

namespace {

using namespace viewergeom;

pcl::PointXYZI P(float x, float y, float i = 0) {
  pcl::PointXYZI p;
  p.x = x, p.y = y, p.z = 0, p.intensity = i;
  return p;
}

TEST(ViewerGeometry, RampAnglesAndLabels) {
  const struct {
    int i, r, g, b;
  } ramp[] = {{0, 0, 0, 255},     {63, 0, 252, 255},  {64, 0, 255, 255}, {127, 0, 255, 3}, {128, 0, 255, 0},
              {191, 252, 255, 0}, {192, 255, 255, 0}, {254, 255, 7, 0},  {255, 255, 0, 0}};
  for (const auto& c : ramp) {
    const Rgb got = IntensityRamp(static_cast<uint8_t>(c.i));
    EXPECT_TRUE(got.r == c.r && got.g == c.g && got.b == c.b) << "intensity " << c.i;
  }
  const struct {
    pcl::PointXYZI p;
    int sign;
    float angle;
  } angles[] = {{P(1, 0), 1, 0.0f},
                {P(0, 1), 1, 90.0f},
                {P(0, 1), -1, 270.0f},
                {P(-1, 0), 1, 180.0f},
                {P(1.5f, -1e-8f), 1, 0.0f}};  // just below 360 wraps to 0, never 360
  for (const auto& c : angles) EXPECT_NEAR(PickedAngle(c.p, c.sign), c.angle, 1e-3) << c.p << " sign " << c.sign;
  EXPECT_DOUBLE_EQ(PickedDistance(P(3, 4)), 5.0);
  EXPECT_EQ(DistanceLabel(1.234), "1.23m");
  float x = 0, y = 0;
  ToPlane(KXScanPoint{90.0f, 2000, 0}, -1, &x, &y);
  EXPECT_NEAR(x, 0.0f, 1e-6);
  EXPECT_NEAR(y, -2.0f, 1e-6);
}

TEST(ViewerGeometry, PickNearestWithinThreeMetresTiesToTheFirst) {
  pcl::visualization::Camera cam;  // the view's top-down camera, 800 x 400 pixels
  cam.pos[0] = cam.pos[1] = 0, cam.pos[2] = 40;
  cam.focal[0] = cam.focal[1] = cam.focal[2] = 0;
  cam.view[0] = 1, cam.view[1] = cam.view[2] = 0;
  cam.clip[0] = 30, cam.clip[1] = 50, cam.fovy = M_PI / 6;
  cam.window_size[0] = 800, cam.window_size[1] = 400, cam.window_pos[0] = cam.window_pos[1] = 0;
  Eigen::Matrix4d v, p;
  cam.computeViewMatrix(v);
  cam.computeProjectionMatrix(p);
  auto pixel = [&](double x, double y) {
    Eigen::Vector4d h = p * v * Eigen::Vector4d(x, y, 0, 1);
    return Eigen::Vector2d((h.x() / h.w() + 1) * 400, (h.y() / h.w() + 1) * 200);
  };
  pcl::PointCloud<pcl::PointXYZI> cloud;
  cloud.push_back(P(2, 1, 10));
  cloud.push_back(P(2, -1, 20));
  cloud.push_back(P(2, 1, 30));
  const struct {
    double x, y;
    float intensity;
  } rows[] = {{2, 0, 10}, {2, -0.9, 20}, {2, 3.9, 10}, {2, 4.1, 0}, {5.1, 1, 0}};
  for (const auto& r : rows) {
    const Eigen::Vector2d at = pixel(r.x, r.y);
    EXPECT_EQ(PickNearest(cam, at.x(), at.y(), cloud).intensity, r.intensity) << r.x << "," << r.y;
  }
  EXPECT_EQ(PickNearest(cam, 400, 200, pcl::PointCloud<pcl::PointXYZI>()).intensity, 0.0f);
  cam.window_size[0] = cam.window_size[1] = 0;  // a widget not laid out yet
  EXPECT_EQ(PickNearest(cam, 0, 0, cloud).intensity, 0.0f);
}

SceneWidget* RenderWidget(vtkViewer& v) { return v.findChild<SceneWidget*>("viewer"); }

// Widget position of a scene point under the view's camera.
QPoint WidgetPosOf(vtkViewer& v, double x, double y) {
  vtkRenderWindow* window = RenderWidget(v)->renderWindow();
  vtkNew<vtkCoordinate> c;
  c->SetCoordinateSystemToWorld();
  c->SetValue(x, y, 0);
  const int* d = c->GetComputedDisplayValue(window->GetRenderers()->GetFirstRenderer());
  return QPoint(d[0], window->GetSize()[1] - 1 - d[1]);
}

TEST(ViewerOnScreen, EveryChangeReachesTheDisplayByItself) {
  vtkViewer view;
  view.resize(800, 450);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  QWidget* scene = RenderWidget(view);
  auto area = [&] { return SceneArea(ScreenPixels(scene)); };
  EXPECT_EQ(CountPixels(area(), Coloured), 0);

  // A quarter circle at 3 m, on one side of the x axis only.
  std::vector<KXScanPoint> frame(600);
  for (int k = 0; k < 150; ++k) frame[k] = KXScanPoint{k * 0.6f, 3000, 200};
  view.slotShowDeviceData(frame);
  const QImage first = area();
  const int drawn = CountPixels(first, Coloured);
  EXPECT_GT(drawn, 150);
  view.SetRotationSign(-1);  // mirrored at once
  const QImage mirrored = area();
  EXPECT_TRUE(mirrored != first);
  EXPECT_NEAR(CountPixels(mirrored, Coloured), drawn, drawn / 5);
  view.SetRotationSign(1);
  EXPECT_EQ(area(), first);
  view.SetPointSize(8);
  EXPECT_GT(CountPixels(area(), Coloured), 3 * drawn);
  view.SetPointSize(3);

  // A right click on the point at 45 degrees measures it and draws the red line.
  const QPoint at = WidgetPosOf(view, 3 * std::cos(M_PI / 4), 3 * std::sin(M_PI / 4));
  QTest::mouseClick(RenderWidget(view), Qt::RightButton, Qt::NoModifier, at);
  float distance = 0, angle = 0;
  uint8_t intensity = 0;
  view.GetSelectedPoint(&distance, &angle, &intensity);
  EXPECT_NEAR(distance, 3.0f, 0.01f);
  EXPECT_NEAR(angle, 45.0f, 1.0f);
  EXPECT_EQ(intensity, 200);
  EXPECT_GT(CountPixels(area(), Red), 40);

  // The legend goes; an empty frame leaves only the dot of its empty slots,
  // all at the origin.
  const int withLegend = CountPixels(ScreenPixels(scene), Coloured);
  view.ShowScalarBar(false, 0);
  EXPECT_LT(CountPixels(ScreenPixels(scene), Coloured), withLegend - 500);
  view.slotShowDeviceData(std::vector<KXScanPoint>(600));
  EXPECT_LE(CountPixels(area(), [](QRgb c) { return Coloured(c) && qRed(c) <= std::max(qGreen(c), qBlue(c)); }), 16);
}

// Trails of three: arcs at 2, 3 and 4 m, shown in that order, fade with age; a
// right click picks from the newest alone; a trail of one, or one started
// anew, shows the newest alone.
TEST(ViewerOnScreen, TrailsFadeOlderRevolutionsAndPickTheNewest) {
  vtkViewer view;
  view.resize(800, 450);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  view.SetTrailLength(3);
  auto arc = [](uint16_t mm) {
    std::vector<KXScanPoint> frame(600);
    for (int k = 0; k < 150; ++k) frame[k] = KXScanPoint{k * 0.6f, mm, 200};
    return frame;
  };
  for (uint16_t mm : {2000, 3000, 4000}) view.slotShowDeviceData(arc(mm));
  auto at = [&](double m, double rad) { return WidgetPosOf(view, m * std::cos(rad), m * std::sin(rad)); };
  // The brightest tinted pixel (neither the grey background nor a ring) by an arc's 30-degree point.
  auto brightness = [&](double m) {
    const QImage shown = ScreenPixels(RenderWidget(view));
    int best = 0;
    for (int k = 0; k < 49; ++k) {
      const QRgb c = shown.pixel(at(m, M_PI / 6) + QPoint(k % 7 - 3, k / 7 - 3));
      const int r = qRed(c), g = qGreen(c), b = qBlue(c);
      if (std::max({r, g, b}) - std::min({r, g, b}) > 20) best = std::max(best, r + g + b);
    }
    return best;
  };
  const int newest = brightness(4);
  EXPECT_LT(0, brightness(2));
  EXPECT_LT(brightness(2), brightness(3) - 50);
  EXPECT_LT(brightness(3), newest - 50);

  QTest::mouseClick(RenderWidget(view), Qt::RightButton, Qt::NoModifier, at(3, M_PI / 4));  // on the middle arc
  float distance = 0, angle = 0;
  uint8_t intensity = 0;
  view.GetSelectedPoint(&distance, &angle, &intensity);
  EXPECT_NEAR(distance, 4.0f, 0.01f);

  view.SetTrailLength(1);
  EXPECT_EQ(brightness(2) + brightness(3), 0);
  EXPECT_EQ(brightness(4), newest);

  // A new stream (a replay's jump): the next revolution shows alone.
  view.SetTrailLength(3);
  view.slotShowDeviceData(arc(3000));
  view.StartTrailAnew();
  view.slotShowDeviceData(arc(2000));
  EXPECT_EQ(brightness(3) + brightness(4), 0);
  EXPECT_EQ(brightness(2), newest);
}

// A still room under trails of ten: the newest revolution lies on top at full
// colour, so the picture keeps the bright pixels of a single revolution.
TEST(ViewerOnScreen, TheNewestRevolutionIsDrawnOverItsTrail) {
  vtkViewer view;
  view.resize(800, 450);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  auto revolution = [](int k) {  // a 3 m circle, its distances jittering by a few millimetres
    std::vector<KXScanPoint> frame(600);
    for (int s = 0; s < 600; ++s)
      frame[s] = KXScanPoint{s * 0.6f, static_cast<uint16_t>(3000 + (s * 7 + k * 3) % 9), 250};
    return frame;
  };
  auto bright = [&] {  // pixels at the full colour of intensity 250 (near red), none of the faded ones
    return CountPixels(SceneArea(ScreenPixels(RenderWidget(view))),
                       [](QRgb c) { return qRed(c) > 240 && qGreen(c) > 10 && qGreen(c) < 40 && qBlue(c) < 10; });
  };
  view.slotShowDeviceData(revolution(0));
  const int single = bright();
  EXPECT_GT(single, 900);
  view.SetTrailLength(10);
  for (int k = 1; k <= 10; ++k) view.slotShowDeviceData(revolution(k));
  EXPECT_GE(bright(), single * 97 / 100);
}

// Keys typed into the view after a click change nothing on the display and
// write nothing into the working folder; the mouse still measures.
TEST(ViewerOnScreen, StrayKeysLeaveTheViewAlone) {
  QTemporaryDir folder;
  const QString before = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(folder.path()));
  vtkViewer view;
  view.resize(800, 450);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  std::vector<KXScanPoint> frame(600);
  for (int k = 0; k < 150; ++k) frame[k] = KXScanPoint{k * 0.6f, 3000, 200};
  view.slotShowDeviceData(frame);
  QWidget* scene = RenderWidget(view);
  QTest::mouseClick(scene, Qt::LeftButton, Qt::NoModifier, scene->rect().center());
  const QImage shown = ScreenPixels(scene);
  for (const char* keys : {"pwsf3jcugorxl1+-", "eq"}) {
    QTest::keyClicks(scene, keys);
    QTest::keyClick(scene, Qt::Key_S, Qt::AltModifier);      // stereo
    QTest::keyClick(scene, Qt::Key_S, Qt::ControlModifier);  // a camera file
    QTest::qWait(300);                                       // a camera flight takes its time
    EXPECT_TRUE(ScreenPixels(scene) == shown) << keys;
  }
  EXPECT_EQ(QDir().entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).join(' ').toStdString(), "");
  QTest::mouseClick(scene, Qt::RightButton, Qt::NoModifier, WidgetPosOf(view, 0, 3));
  EXPECT_GT(CountPixels(SceneArea(ScreenPixels(scene)), Red), 40);
  QDir::setCurrent(before);
}

TEST(ViewerOnScreen, DestroyingAViewerReleasesItsWholeScene) {
  for (int k = 0; k < 2; ++k) {  // the VTK factories are registered once, for every viewer
    vtkWeakPointer<vtkRenderWindow> window;
    vtkWeakPointer<vtkRenderer> renderer;
    {
      vtkViewer other;
      other.show();
      ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
      other.slotShowDeviceData(std::vector<KXScanPoint>(600));
      window = RenderWidget(other)->renderWindow();
      renderer = window->GetRenderers()->GetFirstRenderer();
    }
    EXPECT_EQ(window, nullptr);
    EXPECT_EQ(renderer, nullptr);
  }
}

}  // namespace
