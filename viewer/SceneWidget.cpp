#include "viewer/SceneWidget.h"

#include <QVTKInteractor.h>
#include <QVTKOpenGLWindow.h>
#include <QVTKRenderWindowAdapter.h>
#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkOpenGLFramebufferObject.h>
#include <vtkOpenGLState.h>

#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>
#include <QVBoxLayout>

namespace {

// Hands VTK's last image to the window with one plain copy. VTK's own window
// copies with filtering and then clears the alpha channel in a second pass,
// both full passes under a software renderer; the scene clears to an opaque
// background, so its alpha is whole already.
class SceneWindow : public QVTKOpenGLWindow {
 public:
  using QVTKOpenGLWindow::QVTKOpenGLWindow;

 protected:
  void paintGL() override {
    QOpenGLExtraFunctions* f = context() ? context()->extraFunctions() : nullptr;
    if (!RenderWindow || !RenderWindowAdapter || !f) {
      QVTKOpenGLWindow::paintGL();
      return;
    }
    vtkOpenGLState* state = RenderWindow->GetState();
    state->Reset();
    state->Push();
    state->vtkglDepthFunc(GL_LEQUAL);  // what VTK expects; Qt leaves GL_LESS
    // Renders only when the window needs an image VTK has not made yet (first
    // show, resize); frames render as they arrive.
    RenderWindowAdapter->paint();
    makeCurrent();

    f->glBindFramebuffer(GL_DRAW_FRAMEBUFFER, defaultFramebufferObject());
    const GLenum back = GL_BACK_LEFT;
    f->glDrawBuffers(1, &back);
    state->vtkglDisable(GL_SCISSOR_TEST);
    f->glDisable(GL_SCISSOR_TEST);
    const int* source = RenderWindow->GetRenderFramebuffer()->GetLastSize();
    const QSize target = size() * devicePixelRatio();
    RenderWindow->BlitDisplayFramebuffer(0, 0, 0, source[0], source[1], 0, 0, target.width(), target.height(),
                                         GL_COLOR_BUFFER_BIT, GL_NEAREST);
    state->Pop();
  }
};

}  // namespace

SceneWidget::SceneWidget(QWidget* parent) : QWidget(parent), window(new SceneWindow) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  // The container owns the window from here on.
  layout->addWidget(QWidget::createWindowContainer(window, this));
}

SceneWidget::~SceneWidget() = default;

void SceneWidget::setRenderWindow(vtkGenericOpenGLRenderWindow* renderWindow) { window->setRenderWindow(renderWindow); }

vtkRenderWindow* SceneWidget::renderWindow() const { return window->renderWindow(); }

QVTKInteractor* SceneWidget::interactor() const { return window->interactor(); }

QOpenGLWindow* SceneWidget::sceneWindow() const { return window; }

QImage SceneWidget::grabFramebuffer() { return window->grabFramebuffer(); }
