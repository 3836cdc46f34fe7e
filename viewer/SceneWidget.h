#pragma once

#include <QImage>
#include <QWidget>

class QOpenGLWindow;
class QVTKInteractor;
class QVTKOpenGLWindow;
class vtkGenericOpenGLRenderWindow;
class vtkRenderWindow;

// Shows a VTK render window as an OpenGL window of its own, held in a widget.
//
// VTK's widget form draws into an offscreen buffer that Qt then composes into
// the whole native window through OpenGL, one extra textured pass for the
// image and one for the widgets around it, each over every pixel. Under a
// software renderer those passes run on the CPU for every frame, and their
// buffers cost about 10 MB. A window of its own is presented directly.
class SceneWidget : public QWidget {
  Q_OBJECT
 public:
  explicit SceneWidget(QWidget* parent = nullptr);
  ~SceneWidget() override;

  void setRenderWindow(vtkGenericOpenGLRenderWindow* renderWindow);
  vtkRenderWindow* renderWindow() const;
  QVTKInteractor* interactor() const;
  // The window that shows the scene; it receives the mouse itself.
  QOpenGLWindow* sceneWindow() const;
  QImage grabFramebuffer();

 private:
  QVTKOpenGLWindow* window = nullptr;
};
