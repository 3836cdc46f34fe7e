#include <QVTKOpenGLNativeWidget.h>
#include <gtest/gtest.h>
#include <vtkObject.h>

#include <QApplication>
#include <QSurfaceFormat>

#include "tests/support/GlDriver.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Listing the tests (ctest's discovery) must work without a display.
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  KeepSoftwareGlDriverLoaded();
  // As the application does: VTK warnings off, and the VTK surface format in
  // place before the QApplication exists.
  vtkObject::SetGlobalWarningDisplay(0);
  QSurfaceFormat::setDefaultFormat(QVTKOpenGLNativeWidget::defaultFormat());
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
