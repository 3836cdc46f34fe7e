#pragma once

#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

#include <QImage>
#include <QMetaType>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "protocol/KXScanPoint.h"

Q_DECLARE_METATYPE(std::vector<KXScanPoint>)

namespace pcl {
namespace visualization {
class PCLVisualizer;
class MouseEvent;
}  // namespace visualization
}  // namespace pcl
class vtkScalarBarWidget;
class Ui_vtkViewer;

// The 3-D view in the centre of the main window: a top-down metric scene with
// axis lines, range rings, the cloud "scan" and an intensity legend.
class vtkViewer : public QWidget {
  Q_OBJECT

 public:
  // Call before the QApplication exists: sets the OpenGL format the view
  // needs as the default, and tunes Mesa's software renderer and VTK's
  // threads for the view (see there).
  static void PrepareOpenGL();

  explicit vtkViewer(QWidget* parent = nullptr);
  ~vtkViewer() override;

  void SetPointSize(int size);
  // +1 counter-clockwise, -1 clockwise; redraws the frame on the view.
  void SetRotationSign(int sign);
  void ShowScalarBar(bool show, int mode);
  // While held the view keeps its frame and ignores new ones; picking and the
  // measuring line work on the held frame.
  void SetHeld(bool hold) { held = hold; }
  bool IsHeld() const { return held; }
  // Trails: the view shows the last `length` revolutions together (1 to
  // kMaxTrail; 1 is the single live revolution), older ones fading into the
  // background. Picking and the measuring line use the newest only.
  static constexpr int kMaxTrail = 20;
  void SetTrailLength(int length);
  int TrailLength() const { return trailLength; }
  // The revolutions on the view belong to a stream that has ended (a replay
  // jumped): the next revolution drawn starts the trail anew.
  void StartTrailAnew() { startAnew = true; }
  // The newest revolution on the view (the held one while held).
  const std::vector<KXScanPoint>& NewestFrame() const;
  // The view's pixels as the render window last drew them.
  QImage GrabImage();
  // Thread-safe: each value is read whole.
  void GetSelectedPoint(float* distance, float* angle, uint8_t* intensity);
  pcl::PointXYZI PickPoint(double x, double y);
  static void OnMouseEvent(const pcl::visualization::MouseEvent& event, void* cookie);

  int pointSize = 3;
  int rotationSign = 1;  // set through SetRotationSign

 public slots:
  void slotShowDeviceData(std::vector<KXScanPoint> _kx_pointCloud);

 private:
  friend class vtkViewerTestAccess;  // lets the GUI tests inspect the scene

  // One kept revolution: its points and their colours in the scene.
  struct Revolution {
    std::vector<KXScanPoint> frame;
    pcl::PointCloud<pcl::PointXYZRGB> display;
  };

  void InitScene();
  // Places the revolution's points; for the newest, also the pick cloud.
  void BuildRevolution(Revolution& revolution, bool newest);
  // Draws the kept revolutions, newest first so that it lies on top.
  void DrawTrail();
  // Renders the scene once; every change of the scene ends here.
  void RenderView();

  Ui_vtkViewer* ui = nullptr;
  int colorMode = 0;
  bool held = false;
  std::shared_ptr<pcl::visualization::PCLVisualizer> visualizer;
  pcl::PointCloud<pcl::PointXYZI>::Ptr frameCloud;
  std::deque<Revolution> trail;  // the revolutions on the view, newest last
  int trailLength = 1;
  bool startAnew = false;
  static constexpr int kFramesBeforeTrim = 20;
  int framesArrived = 0;
  std::string cloudId = "scan";
  vtkScalarBarWidget* scalarBarWidget = nullptr;
  std::atomic<float> selectedDistance{0.0f};
  std::atomic<float> selectedAngle{0.0f};
  std::atomic<uint8_t> selectedIntensity{0};
  struct Legend;
  std::unique_ptr<Legend> legend;  // owns the legend's VTK objects
};
