#pragma once

#include <QVTKOpenGLNativeWidget.h>
#include <gtest/gtest.h>
#include <pcl/visualization/pcl_visualizer.h>
#include <vtkActor.h>
#include <vtkCamera.h>
#include <vtkCoordinate.h>
#include <vtkMapper.h>
#include <vtkNew.h>
#include <vtkPolyData.h>
#include <vtkRenderWindow.h>
#include <vtkRenderer.h>
#include <vtkRendererCollection.h>
#include <vtkScalarBarActor.h>
#include <vtkScalarBarRepresentation.h>
#include <vtkScalarBarWidget.h>

#include <QApplication>
#include <QImage>
#include <QTest>
#include <cmath>
#include <memory>
#include <vector>

#include "viewer/vtkViewer.h"

// Reaches the viewer's private scene so the tests can check what it holds.
class vtkViewerTestAccess {
 public:
  static pcl::visualization::PCLVisualizer& Visualizer(vtkViewer& v) { return *v.visualizer; }
  static pcl::PointCloud<pcl::PointXYZI>::Ptr FrameCloud(vtkViewer& v) { return v.frameCloud; }
  static int ColorMode(vtkViewer& v) { return v.colorMode; }
  static vtkScalarBarWidget* Legend(vtkViewer& v) { return v.scalarBarWidget; }
};

inline vtkScalarBarActor* LegendActor(vtkViewer& v) {
  auto* rep = vtkScalarBarRepresentation::SafeDownCast(vtkViewerTestAccess::Legend(v)->GetRepresentation());
  return rep ? rep->GetScalarBarActor() : nullptr;
}

inline QVTKOpenGLNativeWidget* RenderWidget(vtkViewer& v) { return v.findChild<QVTKOpenGLNativeWidget*>("viewer"); }

inline vtkRenderer* SceneRenderer(vtkViewer& v) {
  return RenderWidget(v)->renderWindow()->GetRenderers()->GetFirstRenderer();
}

// The poly data behind the cloud "scan" as it is handed to the renderer.
inline vtkPolyData* ScanPolyData(vtkViewer& v) {
  auto actors = vtkViewerTestAccess::Visualizer(v).getCloudActorMap();
  auto it = actors->find("scan");
  if (it == actors->end()) return nullptr;
  return vtkPolyData::SafeDownCast(it->second.actor->GetMapper()->GetInput());
}

inline double ScanPointSize(vtkViewer& v) {
  double size = -1;
  vtkViewerTestAccess::Visualizer(v).getPointCloudRenderingProperties(pcl::visualization::PCL_VISUALIZER_POINT_SIZE,
                                                                      size, "scan");
  return size;
}

// A worker-style frame: 600 empty slots.
inline std::vector<KXScanPoint> EmptyFrame(size_t n = 600) { return std::vector<KXScanPoint>(n); }

inline KXScanPoint Pt(float angle, uint16_t distance, uint8_t intensity) {
  KXScanPoint p;
  p.angle = angle;
  p.distance = distance;
  p.intensity = intensity;
  return p;
}

// A viewer in its own shown window, as the main window holds it.
class ViewerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    view = std::make_unique<vtkViewer>();
    view->resize(794, 427);
    view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    Render();
  }
  void TearDown() override { view.reset(); }

  void Render() {
    QApplication::processEvents();
    RenderWidget(*view)->renderWindow()->Render();
  }

  // Window pixel (origin bottom-left, as VTK and the mouse events count) of a
  // scene point under the current camera.
  QPointF DisplayOf(double x, double y, double z = 0.0) {
    vtkNew<vtkCoordinate> c;
    c->SetCoordinateSystemToWorld();
    c->SetValue(x, y, z);
    double* d = c->GetComputedDoubleDisplayValue(SceneRenderer(*view));
    return QPointF(d[0], d[1]);
  }

  // Qt widget position of a scene point (origin top-left).
  QPoint WidgetPosOf(double x, double y) {
    const QPointF d = DisplayOf(x, y);
    QVTKOpenGLNativeWidget* w = RenderWidget(*view);
    const double ratio = w->effectiveDevicePixelRatio();
    return QPoint(static_cast<int>(std::lround(d.x() / ratio)),
                  static_cast<int>(std::lround((w->renderWindow()->GetSize()[1] - 1 - d.y()) / ratio)));
  }

  QImage Grab() {
    Render();
    return RenderWidget(*view)->grabFramebuffer();
  }

  std::unique_ptr<vtkViewer> view;
};
