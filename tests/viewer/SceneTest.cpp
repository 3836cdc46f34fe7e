#include <vtkActorCollection.h>
#include <vtkAlgorithm.h>
#include <vtkProperty.h>
#include <vtkRegularPolygonSource.h>
#include <vtkScalarsToColors.h>
#include <vtkWeakPointer.h>

#include "ViewerTestSupport.h"

namespace {

using Access = vtkViewerTestAccess;

TEST_F(ViewerTest, SceneAfterConstructionHoldsAxesLabelsCloudAndLegend) {
  auto& vis = Access::Visualizer(*view);
  EXPECT_TRUE(vis.contains("lineX"));
  EXPECT_TRUE(vis.contains("lineY"));
  for (int n = 1; n <= 10; ++n) EXPECT_TRUE(vis.contains(std::to_string(n) + "m")) << n;
  EXPECT_FALSE(vis.contains("11m"));
  EXPECT_FALSE(vis.contains("dist_line"));
  EXPECT_FALSE(vis.contains("dist"));

  ASSERT_TRUE(vis.contains("scan"));
  ASSERT_NE(ScanPolyData(*view), nullptr);
  EXPECT_EQ(ScanPolyData(*view)->GetNumberOfPoints(), 0);
  EXPECT_EQ(ScanPointSize(*view), 3.0);
  EXPECT_EQ(view->pointSize, 3);
  EXPECT_EQ(view->rotationSign, 1);
  ASSERT_TRUE(Access::FrameCloud(*view));
  EXPECT_TRUE(Access::FrameCloud(*view)->empty());

  // The form's spare QOpenGLWidget takes no room from the view.
  EXPECT_EQ(RenderWidget(*view)->size(), view->size());

  float d = -1, a = -1;
  uint8_t i = 99;
  view->GetSelectedPoint(&d, &a, &i);
  EXPECT_EQ(d, 0.0f);
  EXPECT_EQ(a, 0.0f);
  EXPECT_EQ(i, 0);
}

TEST_F(ViewerTest, TenGreyWireframeRingsOfOneToTenMetres) {
  vtkActorCollection* actors = SceneRenderer(*view)->GetActors();
  std::vector<double> radii;
  actors->InitTraversal();
  while (vtkActor* actor = actors->GetNextActor()) {
    auto* ring = vtkRegularPolygonSource::SafeDownCast(actor->GetMapper()->GetInputAlgorithm());
    if (!ring) continue;
    EXPECT_EQ(ring->GetNumberOfSides(), 70);
    const double* c = ring->GetCenter();
    EXPECT_EQ(c[0], 0.0);
    EXPECT_EQ(c[1], 0.0);
    EXPECT_EQ(c[2], 0.0);
    EXPECT_EQ(actor->GetProperty()->GetRepresentation(), VTK_WIREFRAME);
    const double* col = actor->GetProperty()->GetColor();
    EXPECT_DOUBLE_EQ(col[0], 0.5);
    EXPECT_DOUBLE_EQ(col[1], 0.5);
    EXPECT_DOUBLE_EQ(col[2], 0.5);
    radii.push_back(ring->GetRadius());
  }
  std::sort(radii.begin(), radii.end());
  EXPECT_EQ(radii, (std::vector<double>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
}

TEST_F(ViewerTest, TopDownCameraDarkBackgroundAndNoFrameRate) {
  vtkRenderer* ren = SceneRenderer(*view);
  const double* bg = ren->GetBackground();
  EXPECT_DOUBLE_EQ(bg[0], 0.1);
  EXPECT_DOUBLE_EQ(bg[1], 0.1);
  EXPECT_DOUBLE_EQ(bg[2], 0.1);
  vtkCamera* cam = ren->GetActiveCamera();
  const double* pos = cam->GetPosition();
  const double* focal = cam->GetFocalPoint();
  const double* up = cam->GetViewUp();
  EXPECT_DOUBLE_EQ(pos[0], 0.0);
  EXPECT_DOUBLE_EQ(pos[1], 0.0);
  EXPECT_DOUBLE_EQ(pos[2], 40.0);
  EXPECT_DOUBLE_EQ(focal[0], 0.0);
  EXPECT_DOUBLE_EQ(focal[1], 0.0);
  EXPECT_DOUBLE_EQ(focal[2], 0.0);
  EXPECT_DOUBLE_EQ(up[0], 1.0);
  EXPECT_DOUBLE_EQ(up[1], 0.0);
  EXPECT_DOUBLE_EQ(up[2], 0.0);

  // +x is screen up and +y screen left: the 5 m label sits straight above the
  // origin, a point on +y to its left.
  const QPointF origin = DisplayOf(0, 0);
  const QPointF five = DisplayOf(5, 0);
  const QPointF left = DisplayOf(0, 5);
  EXPECT_NEAR(five.x(), origin.x(), 1e-6);
  EXPECT_GT(five.y(), origin.y());
  EXPECT_LT(left.x(), origin.x());
  EXPECT_NEAR(left.y(), origin.y(), 1e-6);
}

TEST_F(ViewerTest, LegendStartsInIntensityMode) {
  EXPECT_EQ(Access::ColorMode(*view), 0);
  ASSERT_NE(Access::Legend(*view), nullptr);
  EXPECT_TRUE(Access::Legend(*view)->GetEnabled());
  vtkScalarBarActor* actor = LegendActor(*view);
  ASSERT_NE(actor, nullptr);
  EXPECT_STREQ(actor->GetTitle(), "intensity\n");
  EXPECT_STREQ(actor->GetLabelFormat(), "%.2f");
  const double* range = actor->GetLookupTable()->GetRange();
  EXPECT_EQ(range[0], 0.0);
  EXPECT_EQ(range[1], 255.0);
}

bool IsGrey(QRgb c, int level, int tolerance) {
  return std::abs(qRed(c) - level) <= tolerance && std::abs(qGreen(c) - level) <= tolerance &&
         std::abs(qBlue(c) - level) <= tolerance;
}

TEST_F(ViewerTest, EmptySceneRendersGreyBackgroundAndAxisThroughTheCentre) {
  const QImage img = Grab();
  ASSERT_FALSE(img.isNull());
  // Corners: background 0.1 grey, away from rings and legend.
  EXPECT_TRUE(IsGrey(img.pixel(2, 2), 26, 2)) << std::hex << img.pixel(2, 2);
  EXPECT_TRUE(IsGrey(img.pixel(img.width() / 4, img.height() - 3), 26, 2));

  // Below the centre only the -x half of "lineX" is drawn (the labels sit on
  // +x): a grey column through the middle of the view.
  const QPoint below = WidgetPosOf(-0.5, 0);
  bool found = false;
  for (int dx = -1; dx <= 1 && !found; ++dx) found = IsGrey(img.pixel(below.x() + dx, below.y()), 128, 20);
  EXPECT_TRUE(found) << "no axis pixel near " << below.x() << "," << below.y();
  // ... and a little to the side of it, background again.
  EXPECT_TRUE(IsGrey(img.pixel(below.x() + 6, below.y()), 26, 2));
  // The left half of "lineY" crosses the same way.
  const QPoint left = WidgetPosOf(0, 0.5);
  found = false;
  for (int dy = -1; dy <= 1 && !found; ++dy) found = IsGrey(img.pixel(left.x(), left.y() + dy), 128, 20);
  EXPECT_TRUE(found);
}

TEST_F(ViewerTest, DestroyingAViewerReleasesItsWholeScene) {
  // Several viewers in one process (the VTK factories are registered once),
  // each freeing its render window, and with it the scene, when destroyed.
  for (int k = 0; k < 2; ++k) {
    vtkWeakPointer<vtkRenderWindow> window;
    vtkWeakPointer<vtkRenderer> renderer;
    {
      vtkViewer other;
      other.resize(200, 150);
      other.show();
      ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
      other.slotShowDeviceData(EmptyFrame());
      EXPECT_TRUE(Access::Visualizer(other).contains("scan"));
      window = RenderWidget(other)->renderWindow();
      renderer = SceneRenderer(other);
      ASSERT_NE(window, nullptr);
    }
    EXPECT_EQ(window, nullptr);
    EXPECT_EQ(renderer, nullptr);
  }
  // The fixture's viewer is untouched by the others.
  view->slotShowDeviceData(EmptyFrame());
  EXPECT_EQ(ScanPolyData(*view)->GetNumberOfPoints(), 600);
}

}  // namespace
