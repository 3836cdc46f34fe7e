// Test entry for the window tests: the VTK widget needs its surface format
// before the application object exists, as in the real entry point.
#include <QVTKOpenGLNativeWidget.h>
#include <gtest/gtest.h>
#include <vtkObject.h>

#include <QApplication>
#include <QSurfaceFormat>

#include "tests/support/GlDriver.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Listing the tests (ctest's discovery) needs no display.
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  KeepSoftwareGlDriverLoaded();
  vtkObject::SetGlobalWarningDisplay(0);
  QSurfaceFormat::setDefaultFormat(QVTKOpenGLNativeWidget::defaultFormat());
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
