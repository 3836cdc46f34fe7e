#include <QVTKOpenGLNativeWidget.h>
#include <vtkObject.h>

#include <QApplication>
#include <QSurfaceFormat>

#include "app/MainWindow.h"

int main(int argc, char* argv[]) {
  vtkObject::SetGlobalWarningDisplay(0);
  // The VTK widget needs its OpenGL format as the default before any window exists.
  QSurfaceFormat::setDefaultFormat(QVTKOpenGLNativeWidget::defaultFormat());
  QApplication app(argc, argv);
  MainWindow window;
  window.setWindowTitle(MainWindow::kWindowTitle);
  window.show();
  return app.exec();
}
