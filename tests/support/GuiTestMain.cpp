// Test entry for every test that shows a window: set up as the real entry
// point does, with VTK warnings off and the VTK surface format in place before
// the application object exists.
#include <QVTKOpenGLNativeWidget.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <vtkObject.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QSurfaceFormat>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Under Xvfb, Mesa renders through its software DRI driver, which it unloads
// when the display closes at exit. The leak checker then no longer sees the
// driver's globals and reports the blocks they held as leaked. Keeping the
// driver mapped until the process ends avoids that false report.
void KeepSoftwareGlDriverLoaded() {
#ifdef LDS_DRI_DIR
  const char* dir = std::getenv("LIBGL_DRIVERS_PATH");
  const std::string path = std::string(dir && *dir ? dir : LDS_DRI_DIR) + "/swrast_dri.so";
  dlopen(path.c_str(), RTLD_LAZY | RTLD_NODELETE);
#endif
}

// A modal widget that nobody answers would hold its test in a nested event
// loop until ctest kills the process. Fail the test and close the widget
// instead, so the run goes on and says which widget was left open.
class UnansweredModalGuard {
 public:
  explicit UnansweredModalGuard(int limitMs) : limitMs(limitMs) {
    timer.setInterval(500);
    QObject::connect(&timer, &QTimer::timeout, [this]() { Check(); });
    timer.start();
  }

 private:
  void Check() {
    QWidget* w = QApplication::activeModalWidget();
    if (!w || !w->isVisible()) {
      seen = nullptr;
      return;
    }
    if (w != seen.data()) {
      seen = w;
      since.start();
      return;
    }
    if (since.elapsed() < limitMs) return;
    ADD_FAILURE() << "a modal " << w->metaObject()->className() << " (\"" << w->windowTitle().toStdString()
                  << "\") stayed open unanswered for " << limitMs / 1000 << " s; closing it";
    seen = nullptr;
    if (auto* dialog = qobject_cast<QDialog*>(w))
      dialog->reject();
    else
      w->close();
  }

  QTimer timer;
  QPointer<QWidget> seen;
  QElapsedTimer since;
  int limitMs;
};

}  // namespace

int main(int argc, char** argv) {
  // Line by line, so that a run killed on a timeout still shows its failures.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  ::testing::InitGoogleTest(&argc, argv);
  // Listing the tests (ctest's discovery) must work without a display.
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  KeepSoftwareGlDriverLoaded();
  vtkObject::SetGlobalWarningDisplay(0);
  QSurfaceFormat::setDefaultFormat(QVTKOpenGLNativeWidget::defaultFormat());
  QApplication app(argc, argv);
  UnansweredModalGuard guard(20000);
  return RUN_ALL_TESTS();
}
