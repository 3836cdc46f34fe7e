#pragma once

#include <vtkSmartPointer.h>

#include <QImage>
#include <QScopedPointer>
#include <QWidget>

class QOffscreenSurface;
class QOpenGLContext;
class QVTKInteractor;
class QVTKRenderWindowAdapter;
class vtkGenericOpenGLRenderWindow;
class vtkRenderWindow;

// Shows a VTK render window in a plain widget: VTK renders offscreen, and each
// new image is read back and painted like any other widget content.
//
// Presenting through OpenGL costs more than the render under a software
// renderer. VTK's widget form has Qt compose it into the whole window with
// textured passes over every pixel; even a window of its own needs a drawn
// pass, since VTK's image is RGBA and an X window's buffer BGRA. Read back,
// the image is a copy, and Qt's raster engine converts it on the way to the
// screen.
class SceneWidget : public QWidget {
  Q_OBJECT
 public:
  explicit SceneWidget(QWidget* parent = nullptr);
  ~SceneWidget() override;

  void setRenderWindow(vtkGenericOpenGLRenderWindow* renderWindow);
  vtkRenderWindow* renderWindow() const;
  QVTKInteractor* interactor() const;
  // The last image shown, as the view's pixels.
  QImage grabFramebuffer();

 signals:
  // A new image reached the window.
  void Presented();

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void ReadImage();
  void OnRendered();

  vtkSmartPointer<vtkGenericOpenGLRenderWindow> window;
  QScopedPointer<QOffscreenSurface> surface;
  QScopedPointer<QOpenGLContext> context;
  QScopedPointer<QVTKRenderWindowAdapter> adapter;
  QImage image;
  bool imageRead = false;  // the image holds VTK's latest render
  unsigned long renderedObserver = 0;
};
