#include "viewer/SceneWidget.h"

#include <QVTKInteractor.h>
#include <QVTKRenderWindowAdapter.h>
#include <vtkCommand.h>
#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkInteractorStyleTrackballCamera.h>
#include <vtkOpenGLFramebufferObject.h>
#include <vtkOpenGLState.h>

#include <QEvent>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>
#include <QPainter>

SceneWidget::SceneWidget(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
}

SceneWidget::~SceneWidget() {
  if (window) window->RemoveObserver(renderedObserver);
  if (context && surface) context->makeCurrent(surface.data());
  adapter.reset();
  if (context) context->doneCurrent();
}

void SceneWidget::setRenderWindow(vtkGenericOpenGLRenderWindow* renderWindow) {
  if (window) window->RemoveObserver(renderedObserver);
  window = renderWindow;
  renderedObserver = window->AddObserver(vtkCommand::EndEvent, this, &SceneWidget::OnRendered);
  window->SetReadyForRendering(false);
  window->SetFrameBlitModeToNoBlit();
  if (!window->GetInteractor()) {
    vtkNew<QVTKInteractor> interactor;
    window->SetInteractor(interactor);
    interactor->Initialize();
    vtkNew<vtkInteractorStyleTrackballCamera> style;
    interactor->SetInteractorStyle(style);
  }
  surface.reset(new QOffscreenSurface);
  surface->setFormat(QSurfaceFormat::defaultFormat());
  surface->create();
  context.reset(new QOpenGLContext);
  context->setFormat(QSurfaceFormat::defaultFormat());
  if (!context->create() || !context->makeCurrent(surface.data())) {
    qWarning("lds-tool: no OpenGL context for the view");
    return;
  }
  adapter.reset(new QVTKRenderWindowAdapter(context.data(), window, this));
  adapter->resize(width(), height());
}

vtkRenderWindow* SceneWidget::renderWindow() const { return window; }

QVTKInteractor* SceneWidget::interactor() const {
  return window ? QVTKInteractor::SafeDownCast(window->GetInteractor()) : nullptr;
}

QImage SceneWidget::grabFramebuffer() {
  if (adapter) ReadImage();
  return image.copy();
}

void SceneWidget::OnRendered() { imageRead = false; }

bool SceneWidget::event(QEvent* event) {
  if (adapter && adapter->handleEvent(event)) return true;
  return QWidget::event(event);
}

void SceneWidget::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (adapter) adapter->resize(width(), height());
}

void SceneWidget::ReadImage() {
  if (!context->makeCurrent(surface.data())) return;
  // Renders when VTK has no image of this size yet; frames render as they arrive.
  adapter->paint();
  // Other repaints (an uncovered part, a grab) show the image already read.
  if (imageRead) return;
  vtkOpenGLFramebufferObject* shown = window->GetDisplayFramebuffer();
  const int* size = shown->GetLastSize();
  if (size[0] <= 0 || size[1] <= 0) return;
  if (image.width() != size[0] || image.height() != size[1]) image = QImage(size[0], size[1], QImage::Format_RGBX8888);
  vtkOpenGLState* state = window->GetState();
  state->PushReadFramebufferBinding();
  shown->Bind(GL_READ_FRAMEBUFFER);
  shown->ActivateReadBuffer(0);
  QOpenGLExtraFunctions* f = context->extraFunctions();
  f->glPixelStorei(GL_PACK_ALIGNMENT, 4);
  f->glReadPixels(0, 0, size[0], size[1], GL_RGBA, GL_UNSIGNED_BYTE, image.bits());
  state->PopReadFramebufferBinding();
  // OpenGL's rows run bottom up.
  image = std::move(image).mirrored(false, true);
  imageRead = true;
}

void SceneWidget::paintEvent(QPaintEvent*) {
  if (adapter) ReadImage();
  QPainter painter(this);
  if (image.isNull()) {
    painter.fillRect(rect(), Qt::black);
    return;
  }
  painter.drawImage(rect(), image);
  emit Presented();
}
