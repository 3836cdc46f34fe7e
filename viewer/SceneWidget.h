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
class vtkOpenGLFramebufferObject;
class vtkRenderWindow;

// Shows a VTK render window in a plain widget: VTK renders offscreen, and each
// new image is read back and painted like any other widget content.
//
// Presenting through OpenGL costs more than the render under a software
// renderer. VTK's widget form has Qt compose it into the whole window with
// textured passes over every pixel; even a window of its own needs a drawn
// pass, since VTK's image is RGBA and an X window's buffer BGRA. Read back,
// the image goes in the display's own byte order straight into the window's
// image that Qt sends to the screen.
//
// Every pass over the pixels grows with the window, so each frame makes as
// few as it can: VTK's copy of each render into a second framebuffer (a
// drawn pass under Mesa) is skipped by the render window made here, the
// image is read straight from the framebuffer VTK rendered into, and it is
// turned over and reordered in one pass.
class SceneWidget : public QWidget {
  Q_OBJECT
 public:
  explicit SceneWidget(QWidget* parent = nullptr);
  ~SceneWidget() override;

  // A render window that leaves its image where it rendered it, for
  // setRenderWindow. Any vtkGenericOpenGLRenderWindow works; this one saves a
  // pass over the pixels per frame.
  static vtkSmartPointer<vtkGenericOpenGLRenderWindow> NewRenderWindow();

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
  // VTK's newest image, rendered first if it has none of the view's size;
  // null without one.
  vtkOpenGLFramebufferObject* CurrentImage();
  // Reads the image into rows of `stride` bytes, top row first, in the
  // display's byte order.
  void ReadPixels(vtkOpenGLFramebufferObject* shown, uchar* bits, qsizetype stride, int width, int height);

  vtkSmartPointer<vtkGenericOpenGLRenderWindow> window;
  QScopedPointer<QOffscreenSurface> surface;
  QScopedPointer<QOpenGLContext> context;
  QScopedPointer<QVTKRenderWindowAdapter> adapter;
};
