// Test entry for every test that shows a window: set up as the real entry
// point does, with VTK warnings off and the VTK surface format in place before
// the application object exists.
#include <QVTKOpenGLNativeWidget.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <vtkObject.h>

#include <QApplication>
#include <QSurfaceFormat>
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

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Listing the tests (ctest's discovery) must work without a display.
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  KeepSoftwareGlDriverLoaded();
  vtkObject::SetGlobalWarningDisplay(0);
  QSurfaceFormat::setDefaultFormat(QVTKOpenGLNativeWidget::defaultFormat());
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
