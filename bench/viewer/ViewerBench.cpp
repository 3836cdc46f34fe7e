#include <benchmark/benchmark.h>
#include <vtkObject.h>
#include <vtkRenderWindow.h>

#include <QApplication>
#include <QTest>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "viewer/SceneWidget.h"
#include "viewer/ViewerGeometry.h"
#include "viewer/vtkViewer.h"

namespace {

vtkViewer* g_view = nullptr;

// A full revolution of a room-like scene: 600 slots, every one measured.
std::vector<KXScanPoint> RoomFrame() {
  std::vector<KXScanPoint> frame(600);
  for (int k = 0; k < 600; ++k) {
    frame[k].angle = 0.6f * static_cast<float>(k);
    frame[k].distance = static_cast<uint16_t>(2000 + 1500 * std::fabs(std::sin(k * 0.02)));
    frame[k].intensity = static_cast<uint8_t>(k % 256);
  }
  return frame;
}

// The slot as the queued signal calls it (a fresh copy per frame), spin
// budget included; the repaint it schedules is not waited for.
void BM_ShowFrame(benchmark::State& state) {
  const auto frame = RoomFrame();
  for (auto _ : state) g_view->slotShowDeviceData(frame);
}
BENCHMARK(BM_ShowFrame)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

// The slot (which renders) followed by the repaint that presents its image,
// once each per revolution as in the running program (software OpenGL under
// Xvfb): events are handled until the widget says the new image is shown.
void BM_ShowFrameAndRepaint(benchmark::State& state) {
  const auto frame = RoomFrame();
  auto* widget = g_view->findChild<SceneWidget*>("viewer");
  long presented = 0;
  QMetaObject::Connection counting = QObject::connect(widget, &SceneWidget::Presented, [&] { ++presented; });
  for (auto _ : state) {
    const long before = presented;
    g_view->slotShowDeviceData(frame);
    for (int spins = 0; presented == before && spins < 1000; ++spins) QApplication::processEvents();
  }
  QObject::disconnect(counting);
  // For instruction counts per frame under callgrind: the frames of this run.
  if (std::getenv("LDS_COUNT_FRAMES"))
    std::fprintf(stderr, "frames %lld\n", static_cast<long long>(state.iterations()));
  state.counters["presented"] = benchmark::Counter(static_cast<double>(presented), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ShowFrameAndRepaint)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

// One pick over a 600-point frame at the middle of the view.
void BM_PickPoint(benchmark::State& state) {
  g_view->slotShowDeviceData(RoomFrame());
  auto* widget = g_view->findChild<SceneWidget*>("viewer");
  const int* size = widget->renderWindow()->GetSize();
  const pcl::PointXYZI probe = g_view->PickPoint(size[0] / 2.0 + 30, size[1] / 2.0 + 40);
  if (probe.x == 0.0f && probe.y == 0.0f) state.SkipWithError("the pick found no point: nothing measured");
  for (auto _ : state) benchmark::DoNotOptimize(g_view->PickPoint(size[0] / 2.0 + 30, size[1] / 2.0 + 40));
}
BENCHMARK(BM_PickPoint)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

// The widget-free part of drawing: both clouds for one frame.
void BM_BuildFrameClouds(benchmark::State& state) {
  const auto frame = RoomFrame();
  pcl::PointCloud<pcl::PointXYZRGB> display;
  pcl::PointCloud<pcl::PointXYZI> pick;
  for (auto _ : state) {
    viewergeom::BuildFrameClouds(frame, 1, display, pick);
    benchmark::DoNotOptimize(display.data());
  }
}
BENCHMARK(BM_BuildFrameClouds)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
  vtkObject::SetGlobalWarningDisplay(0);
  vtkViewer::PrepareOpenGL();
  QApplication app(argc, argv);
  ::benchmark::Initialize(&argc, argv);
  auto view = std::make_unique<vtkViewer>();
  // The view's size in the 800 x 600 window; LDS_VIEW_SIZE=WxH measures
  // another (the screen must hold it), LDS_TRAILS=N a trail of N revolutions.
  int width = 794, height = 427;
  if (const char* size = std::getenv("LDS_VIEW_SIZE")) std::sscanf(size, "%dx%d", &width, &height);
  if (const char* trails = std::getenv("LDS_TRAILS")) view->SetTrailLength(std::atoi(trails));
  view->resize(width, height);
  view->show();
  if (!QTest::qWaitForWindowExposed(view.get())) return 1;
  g_view = view.get();
  ::benchmark::RunSpecifiedBenchmarks();
  ::benchmark::Shutdown();
  g_view = nullptr;
  return 0;
}
