#include <pcl/visualization/mouse_event.h>
#include <vtkActorCollection.h>
#include <vtkProp3D.h>

#include <QMouseEvent>
#include <QWheelEvent>

#include "ViewerTestSupport.h"

namespace {

using Access = vtkViewerTestAccess;

struct Picked {
  float distance = -1;
  float angle = -1;
  uint8_t intensity = 99;
};

class PickingTest : public ViewerTest {
 protected:
  Picked Read() {
    Picked p;
    view->GetSelectedPoint(&p.distance, &p.angle, &p.intensity);
    return p;
  }

  // Mouse events as Qt delivers them to the render widget.
  void Send(QEvent::Type type, Qt::MouseButton button, QPoint pos, Qt::MouseButtons held = Qt::NoButton) {
    QMouseEvent e(type, pos, RenderWidget(*view)->mapToGlobal(pos), button, held, Qt::NoModifier);
    QApplication::sendEvent(RenderWidget(*view), &e);
  }
  void Click(Qt::MouseButton button, QPoint pos) {
    Send(QEvent::MouseMove, Qt::NoButton, pos);
    Send(QEvent::MouseButtonPress, button, pos, button);
    Send(QEvent::MouseButtonRelease, button, pos);
  }

  int ActorCount() { return SceneRenderer(*view)->GetActors()->GetNumberOfItems(); }

  std::array<double, 3> ShapePosition(const std::string& id) {
    auto shapes = Access::Visualizer(*view).getShapeActorMap();
    auto it = shapes->find(id);
    if (it == shapes->end()) return {NAN, NAN, NAN};
    const double* p = vtkProp3D::SafeDownCast(it->second)->GetPosition();
    return {p[0], p[1], p[2]};
  }

  void ExpectTopDownCamera() {
    vtkCamera* cam = SceneRenderer(*view)->GetActiveCamera();
    EXPECT_NEAR(cam->GetPosition()[0], 0.0, 1e-9);
    EXPECT_NEAR(cam->GetPosition()[1], 0.0, 1e-9);
    EXPECT_NEAR(cam->GetPosition()[2], 40.0, 1e-9);
    EXPECT_NEAR(cam->GetFocalPoint()[2], 0.0, 1e-9);
    EXPECT_NEAR(cam->GetViewUp()[0], 1.0, 1e-9);
  }
};

TEST_F(PickingTest, RightReleaseOverAPointMeasuresItAndDrawsTheLine) {
  auto frame = EmptyFrame();
  frame[0] = Pt(0.0f, 1500, 200);
  frame[10] = Pt(6.0f, 1500, 100);  // 0.16 m beside it: the nearer one wins
  view->slotShowDeviceData(frame);
  Render();
  const int actorsBefore = ActorCount();

  Click(Qt::RightButton, WidgetPosOf(1.5, 0));
  const Picked p = Read();
  EXPECT_NEAR(p.distance, 1.5f, 1e-6);
  EXPECT_NEAR(p.angle, 0.0f, 1e-4);
  EXPECT_EQ(p.intensity, 200);

  auto& vis = Access::Visualizer(*view);
  EXPECT_TRUE(vis.contains("dist_line"));
  EXPECT_TRUE(vis.contains("dist"));
  const auto at = ShapePosition("dist");
  EXPECT_NEAR(at[0], 1.5, 1e-6);
  EXPECT_NEAR(at[1], 0.0, 1e-6);
  EXPECT_EQ(ActorCount(), actorsBefore + 2);

  // The measuring line is drawn bright red over the axis it runs along.
  const QImage img = Grab();
  const QPoint mid = WidgetPosOf(0.75, 0);
  bool red = false;
  for (int dx = -1; dx <= 1 && !red; ++dx) {
    const QRgb c = img.pixel(mid.x() + dx, mid.y());
    red = qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) < 60;
  }
  EXPECT_TRUE(red) << std::hex << img.pixel(mid);

  // A second pick replaces line and label rather than adding to them.
  Click(Qt::RightButton, WidgetPosOf(1.5 * std::cos(0.1047), 1.5 * std::sin(0.1047)));
  EXPECT_EQ(Read().intensity, 100);
  EXPECT_NEAR(Read().angle, 6.0f, 1e-3);
  EXPECT_EQ(ActorCount(), actorsBefore + 2);
}

TEST_F(PickingTest, ReleaseFarFromEveryPointRecordsZeros) {
  auto frame = EmptyFrame();
  frame[0] = Pt(0.0f, 1500, 200);
  view->slotShowDeviceData(frame);
  Render();
  Click(Qt::RightButton, WidgetPosOf(1.5, 0));
  ASSERT_EQ(Read().intensity, 200);

  // More than 3 m from the point and from the empty slots at the origin.
  Click(Qt::RightButton, WidgetPosOf(5, 5));
  const Picked p = Read();
  EXPECT_EQ(p.distance, 0.0f);
  EXPECT_EQ(p.angle, 0.0f);
  EXPECT_EQ(p.intensity, 0);
  const auto at = ShapePosition("dist");
  EXPECT_EQ(at[0], 0.0);
  EXPECT_EQ(at[1], 0.0);
  EXPECT_TRUE(Access::Visualizer(*view).contains("dist_line"));
}

TEST_F(PickingTest, PickBeforeAnyFrameRecordsZeros) {
  Click(Qt::RightButton, WidgetPosOf(0, 0));
  const Picked p = Read();
  EXPECT_EQ(p.distance, 0.0f);
  EXPECT_EQ(p.intensity, 0);
  EXPECT_TRUE(Access::Visualizer(*view).contains("dist"));
}

TEST_F(PickingTest, AngleFollowsTheRotationSign) {
  auto frame = EmptyFrame();
  frame[50] = Pt(30.0f, 3000, 5);
  frame[450] = Pt(270.0f, 2000, 6);
  view->slotShowDeviceData(frame);
  Render();
  const QPoint at30 = WidgetPosOf(3 * std::cos(M_PI / 6), 3 * std::sin(M_PI / 6));
  Click(Qt::RightButton, at30);
  EXPECT_NEAR(Read().angle, 30.0f, 1e-3);
  // Direction switched before the next frame: the drawn point reads back mirrored.
  view->rotationSign = -1;
  Click(Qt::RightButton, at30);
  EXPECT_NEAR(Read().angle, 330.0f, 1e-3);
  view->rotationSign = 1;
  Click(Qt::RightButton, WidgetPosOf(0, -2));
  EXPECT_NEAR(Read().angle, 270.0f, 1e-3);
  EXPECT_EQ(Read().intensity, 6);
}

TEST_F(PickingTest, OtherEventsRecordNothing) {
  auto frame = EmptyFrame();
  frame[0] = Pt(0.0f, 1500, 200);
  view->slotShowDeviceData(frame);
  Render();
  const QPoint pos = WidgetPosOf(1.5, 0);
  Send(QEvent::MouseMove, Qt::NoButton, pos);
  Send(QEvent::MouseButtonPress, Qt::RightButton, pos, Qt::RightButton);
  Click(Qt::MiddleButton, pos);
  Send(QEvent::MouseMove, Qt::NoButton, pos + QPoint(3, 3));
  Send(QEvent::MouseMove, Qt::NoButton, pos);
  QWheelEvent wheel(QPointF(pos), QPointF(RenderWidget(*view)->mapToGlobal(pos)), QPoint(), QPoint(0, 120),
                    Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(RenderWidget(*view), &wheel);
  Click(Qt::LeftButton, pos);
  const Picked p = Read();
  EXPECT_EQ(p.distance, 0.0f);
  EXPECT_EQ(p.intensity, 0);
  EXPECT_FALSE(Access::Visualizer(*view).contains("dist_line"));
  EXPECT_FALSE(Access::Visualizer(*view).contains("dist"));
}

TEST_F(PickingTest, LeftDragEndsWithTheTopDownCamera) {
  const QPoint centre = WidgetPosOf(0, 0);
  Send(QEvent::MouseMove, Qt::NoButton, centre + QPoint(3, 3));  // the pointer enters the view
  Send(QEvent::MouseButtonPress, Qt::LeftButton, centre, Qt::LeftButton);
  for (int k = 1; k <= 5; ++k) Send(QEvent::MouseMove, Qt::NoButton, centre + QPoint(20 * k, 10 * k), Qt::LeftButton);
  vtkCamera* cam = SceneRenderer(*view)->GetActiveCamera();
  EXPECT_GT(std::abs(cam->GetPosition()[0]) + std::abs(cam->GetPosition()[1]), 1.0) << "the drag did not rotate";
  Send(QEvent::MouseButtonRelease, Qt::LeftButton, centre + QPoint(100, 50));
  ExpectTopDownCamera();

  // A zoom with the wheel stays until the next left-button event ...
  QWheelEvent wheel(QPointF(centre), QPointF(RenderWidget(*view)->mapToGlobal(centre)), QPoint(), QPoint(0, 120),
                    Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(RenderWidget(*view), &wheel);
  Send(QEvent::MouseMove, Qt::NoButton, centre + QPoint(5, 0));
  EXPECT_LT(cam->GetPosition()[2], 39.0);
  // ... here a double click (press, release, double-click, release).
  Click(Qt::LeftButton, centre);
  QMouseEvent dbl(QEvent::MouseButtonDblClick, centre, RenderWidget(*view)->mapToGlobal(centre), Qt::LeftButton,
                  Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(RenderWidget(*view), &dbl);
  Send(QEvent::MouseButtonRelease, Qt::LeftButton, centre);
  ExpectTopDownCamera();
  EXPECT_EQ(Read().distance, 0.0f);
}

}  // namespace
