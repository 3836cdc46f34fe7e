// Test entry for every test that shows a window: set up as the real entry
// point does, with VTK warnings off and the VTK surface format in place before
// the application object exists.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <vtkObject.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "viewer/vtkViewer.h"

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // a run killed on a timeout still shows its failures
  ::testing::InitGoogleTest(&argc, argv);
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();  // ctest's discovery, without a display
#ifdef LDS_DRI_DIR
  // Mesa unloads its software driver when the display closes at exit, and the
  // leak checker then reports the driver's blocks as leaked: keep it mapped.
  const char* dir = std::getenv("LIBGL_DRIVERS_PATH");
  dlopen((std::string(dir && *dir ? dir : LDS_DRI_DIR) + "/swrast_dri.so").c_str(), RTLD_LAZY | RTLD_NODELETE);
#endif
  vtkObject::SetGlobalWarningDisplay(0);
  vtkViewer::PrepareOpenGL();
  QApplication app(argc, argv);

  // A modal widget nobody answers would hold its test until ctest kills it:
  // after 20 s fail the test, say which widget it was, and close it.
  QPointer<QWidget> seen;
  QElapsedTimer since;
  QTimer guard;
  QObject::connect(&guard, &QTimer::timeout, [&] {
    QWidget* w = QApplication::activeModalWidget();
    if (!w || w != seen.data()) {
      seen = w;
      since.start();
    } else if (since.elapsed() > 20000) {
      ADD_FAILURE() << "a modal " << w->metaObject()->className() << " (\"" << w->windowTitle().toStdString()
                    << "\") stayed open unanswered for 20 s; closing it";
      seen = nullptr;
      if (auto* dialog = qobject_cast<QDialog*>(w)) dialog->reject();
      w->close();
    }
  });
  guard.start(500);
  return RUN_ALL_TESTS();
}
