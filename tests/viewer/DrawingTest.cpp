#include <vtkDataArray.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkProperty.h>
#include <vtkScalarsToColors.h>
#include <vtkWeakPointer.h>

#include "ViewerTestSupport.h"

namespace {

using Access = vtkViewerTestAccess;

// Colour of point k of the drawn cloud as handed to the renderer.
std::array<int, 3> DrawnColour(vtkPolyData* data, vtkIdType k) {
  vtkDataArray* scalars = data->GetPointData()->GetScalars();
  return {static_cast<int>(scalars->GetComponent(k, 0)), static_cast<int>(scalars->GetComponent(k, 1)),
          static_cast<int>(scalars->GetComponent(k, 2))};
}

TEST_F(ViewerTest, FrameIsDrawnInMetresWithTheIntensityRamp) {
  auto frame = EmptyFrame();
  frame[0] = Pt(0.0f, 1000, 0);
  frame[150] = Pt(90.0f, 2000, 255);
  const uint8_t levels[] = {63, 64, 127, 128, 191, 192, 254};
  for (int k = 0; k < 7; ++k) frame[300 + k] = Pt(180.0f, 3000, levels[k]);
  view->slotShowDeviceData(frame);

  vtkPolyData* data = ScanPolyData(*view);
  ASSERT_NE(data, nullptr);
  ASSERT_EQ(data->GetNumberOfPoints(), 600);
  double p[3];
  data->GetPoint(0, p);
  EXPECT_NEAR(p[0], 1.0, 1e-6);
  EXPECT_NEAR(p[1], 0.0, 1e-6);
  EXPECT_EQ(p[2], 0.0);
  EXPECT_EQ(DrawnColour(data, 0), (std::array<int, 3>{0, 0, 255}));
  data->GetPoint(150, p);
  EXPECT_NEAR(p[0], 0.0, 1e-6);
  EXPECT_NEAR(p[1], 2.0, 1e-6);  // left of the origin on screen
  EXPECT_EQ(DrawnColour(data, 150), (std::array<int, 3>{255, 0, 0}));
  const std::array<int, 3> want[] = {{0, 252, 255}, {0, 255, 255}, {0, 255, 3}, {0, 255, 0},
                                     {252, 255, 0}, {255, 255, 0}, {255, 7, 0}};
  for (int k = 0; k < 7; ++k) EXPECT_EQ(DrawnColour(data, 300 + k), want[k]) << int(levels[k]);
  // Empty slots sit at the origin in the colour of intensity 0.
  data->GetPoint(599, p);
  EXPECT_EQ(p[0], 0.0);
  EXPECT_EQ(p[1], 0.0);
  EXPECT_EQ(DrawnColour(data, 599), (std::array<int, 3>{0, 0, 255}));

  auto pick = Access::FrameCloud(*view);
  ASSERT_EQ(pick->size(), 600u);
  EXPECT_NEAR((*pick)[150].y, 2.0f, 1e-6);
  EXPECT_EQ((*pick)[150].intensity, 255.0f);
  EXPECT_EQ((*pick)[303].intensity, 128.0f);
}

TEST_F(ViewerTest, DrawnPointsShowOnScreenInTheirColour) {
  view->SetPointSize(8);
  auto frame = EmptyFrame();
  frame[0] = Pt(0.0f, 4000, 255);     // red, straight above the origin
  frame[150] = Pt(90.0f, 4000, 128);  // green, left of the origin
  view->slotShowDeviceData(frame);
  const QImage img = Grab();
  const QPoint up = WidgetPosOf(4, 0);
  const QPoint left = WidgetPosOf(0, 4);
  const QRgb red = img.pixel(up.x() + 1, up.y() + 1);  // beside the label and axis
  const QRgb green = img.pixel(left.x() + 1, left.y() + 2);
  EXPECT_GT(qRed(red), 200) << std::hex << red;
  EXPECT_LT(qGreen(red), 60);
  EXPECT_LT(qBlue(red), 60);
  EXPECT_GT(qGreen(green), 200) << std::hex << green;
  EXPECT_LT(qRed(green), 60);
  EXPECT_LT(qBlue(green), 60);
}

TEST_F(ViewerTest, RotationSignAppliesFromTheNextFrame) {
  auto frame = EmptyFrame();
  frame[150] = Pt(90.0f, 2000, 10);
  view->slotShowDeviceData(frame);
  view->rotationSign = -1;
  double p[3];
  ScanPolyData(*view)->GetPoint(150, p);
  EXPECT_NEAR(p[1], 2.0, 1e-6);  // not redrawn yet
  view->slotShowDeviceData(frame);
  ScanPolyData(*view)->GetPoint(150, p);
  EXPECT_NEAR(p[1], -2.0, 1e-6);
  EXPECT_NEAR((*Access::FrameCloud(*view))[150].y, -2.0f, 1e-6);
}

TEST_F(ViewerTest, FramesOfAnyLengthAreDrawnWhole) {
  for (size_t n : {0u, 1u, 599u, 601u, 1500u}) {
    auto frame = EmptyFrame(n);
    if (n) frame.back() = Pt(0.0f, 2500, 40);
    view->slotShowDeviceData(frame);
    ASSERT_EQ(ScanPolyData(*view)->GetNumberOfPoints(), static_cast<vtkIdType>(n)) << n;
    ASSERT_EQ(Access::FrameCloud(*view)->size(), n);
    if (n) {
      double p[3];
      ScanPolyData(*view)->GetPoint(static_cast<vtkIdType>(n - 1), p);
      EXPECT_NEAR(p[0], 2.5, 1e-6);
    }
    Render();
  }
  // The view still works normally afterwards.
  view->slotShowDeviceData(EmptyFrame());
  EXPECT_EQ(ScanPolyData(*view)->GetNumberOfPoints(), 600);
  EXPECT_TRUE(Access::Visualizer(*view).contains("lineX"));
}

TEST_F(ViewerTest, PointSizeAppliesAtOnceAndSurvivesFrames) {
  view->SetPointSize(8);
  EXPECT_EQ(view->pointSize, 8);
  EXPECT_EQ(ScanPointSize(*view), 8.0);
  for (int k = 0; k < 3; ++k) view->slotShowDeviceData(EmptyFrame());
  EXPECT_EQ(ScanPointSize(*view), 8.0);
  // The cloud is updated in place: one cloud, the rest of the scene intact.
  EXPECT_EQ(Access::Visualizer(*view).getCloudActorMap()->size(), 1u);
  EXPECT_TRUE(Access::Visualizer(*view).contains("lineY"));
  EXPECT_TRUE(Access::Visualizer(*view).contains("10m"));
  view->SetPointSize(1);
  EXPECT_EQ(ScanPointSize(*view), 1.0);
}

TEST_F(ViewerTest, LegendModesSetRangeTitleAndMode) {
  struct Mode {
    int mode;
    double lo, hi;
    const char* title;
  };
  const Mode modes[] = {
      {3, 0, 300, "distance\n"}, {4, -50, 50, "height\n"}, {5, 0, 255, nullptr}, {0, 0, 255, "intensity\n"}};
  for (const Mode& m : modes) {
    view->ShowScalarBar(true, m.mode);
    EXPECT_EQ(Access::ColorMode(*view), m.mode);
    EXPECT_TRUE(Access::Legend(*view)->GetEnabled());
    vtkScalarBarActor* actor = LegendActor(*view);
    ASSERT_NE(actor, nullptr);
    const double* range = actor->GetLookupTable()->GetRange();
    EXPECT_EQ(range[0], m.lo) << m.mode;
    EXPECT_EQ(range[1], m.hi) << m.mode;
    if (m.title)
      EXPECT_STREQ(actor->GetTitle(), m.title);
    else
      EXPECT_TRUE(actor->GetTitle() == nullptr || actor->GetTitle()[0] == '\0') << actor->GetTitle();
    Render();
  }
  // Unknown modes show a legend but leave the mode alone.
  view->ShowScalarBar(true, 3);
  view->ShowScalarBar(true, 7);
  EXPECT_EQ(Access::ColorMode(*view), 3);
  // Hiding keeps the mode.
  view->ShowScalarBar(false, 0);
  EXPECT_FALSE(Access::Legend(*view)->GetEnabled());
  EXPECT_EQ(Access::ColorMode(*view), 3);
  Render();
  view->ShowScalarBar(true, 4);
  EXPECT_TRUE(Access::Legend(*view)->GetEnabled());
}

TEST_F(ViewerTest, RebuildingTheLegendReleasesThePreviousOne) {
  vtkWeakPointer<vtkScalarBarActor> old = LegendActor(*view);
  vtkWeakPointer<vtkScalarsToColors> oldTable = old->GetLookupTable();
  ASSERT_NE(old, nullptr);
  view->ShowScalarBar(true, 3);
  Render();
  EXPECT_EQ(old, nullptr);
  EXPECT_EQ(oldTable, nullptr);
  EXPECT_NE(LegendActor(*view), nullptr);
}

}  // namespace
