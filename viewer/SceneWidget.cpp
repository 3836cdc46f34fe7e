#include "viewer/SceneWidget.h"

#include <QVTKInteractor.h>
#include <QVTKRenderWindowAdapter.h>
#include <vtkCommand.h>
#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkInteractorStyleTrackballCamera.h>
#include <vtkObjectFactory.h>
#include <vtkOpenGLFramebufferObject.h>
#include <vtkOpenGLState.h>

#include <QEvent>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>
#include <QPaintEngine>
#include <QPaintEvent>
#include <QPainter>
#include <cstdint>
#include <cstring>

namespace {

// Ends each frame without VTK's copy of the render framebuffer into the
// display framebuffer, a pass over every pixel that Mesa draws with a shader:
// the widget reads the render framebuffer itself. A multisampled window still
// needs that copy to resolve its samples, and keeps it.
class SceneRenderWindow : public vtkGenericOpenGLRenderWindow {
 public:
  static SceneRenderWindow* New();
  vtkTypeMacro(SceneRenderWindow, vtkGenericOpenGLRenderWindow);

  void Frame() override {
    if (GetMultiSamples() > 1 || !GetReadyForRendering()) {
      Superclass::Frame();
      return;
    }
    // What the generic window does once the copy is made: Qt's adapter hears
    // that a frame is done.
    InvokeEvent(vtkCommand::WindowFrameEvent, nullptr);
  }
};
vtkStandardNewMacro(SceneRenderWindow);

// OpenGL's rows run bottom up and its pixels are R, G, B, A bytes; the
// display's rows run top down with B, G, R, X. One pass turns the image over
// and reorders each pixel in place, two rows at a time, four pixels at a
// time (the compiler's vector types: SSE2 on x86-64).
using Quad = uint32_t __attribute__((vector_size(16)));

// Trades the words at `upper` and `lower` (the same place in the middle
// row), each put in display order.
template <typename Word>
void TradeInDisplayOrder(uchar* upper, uchar* lower) {
  auto order = [](Word rgba) {  // each word little-endian 0xAABBGGRR
    return (rgba & 0xff00u) | (rgba & 0xffu) << 16 | (rgba >> 16 & 0xffu) | 0xff000000u;
  };
  Word a, b;
  std::memcpy(&a, upper, sizeof a);
  std::memcpy(&b, lower, sizeof b);
  a = order(a);
  b = order(b);
  std::memcpy(upper, &b, sizeof b);
  std::memcpy(lower, &a, sizeof a);
}

void ToDisplayOrder(uchar* bits, qsizetype stride, int width, int height) {
  for (int top = 0, bottom = height - 1; top <= bottom; ++top, --bottom) {
    uchar* upper = bits + stride * top;
    uchar* lower = bits + stride * bottom;
    int x = 0;
    for (; x + 4 <= width; x += 4) TradeInDisplayOrder<Quad>(upper + 4 * x, lower + 4 * x);
    for (; x < width; ++x) TradeInDisplayOrder<uint32_t>(upper + 4 * x, lower + 4 * x);
  }
}

}  // namespace

vtkSmartPointer<vtkGenericOpenGLRenderWindow> SceneWidget::NewRenderWindow() {
  return vtkSmartPointer<SceneRenderWindow>::New();
}

SceneWidget::SceneWidget(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
}

SceneWidget::~SceneWidget() {
  if (context && surface) context->makeCurrent(surface.data());
  adapter.reset();
  if (context) context->doneCurrent();
}

void SceneWidget::setRenderWindow(vtkGenericOpenGLRenderWindow* renderWindow) {
  window = renderWindow;
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
  QImage grabbed;
  if (vtkOpenGLFramebufferObject* shown = CurrentImage()) {
    const int* size = shown->GetLastSize();
    grabbed = QImage(size[0], size[1], QImage::Format_RGB32);
    ReadPixels(shown, grabbed.bits(), grabbed.bytesPerLine(), size[0], size[1]);
  }
  return grabbed;
}

bool SceneWidget::event(QEvent* event) {
  if (adapter && adapter->handleEvent(event)) return true;
  return QWidget::event(event);
}

void SceneWidget::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (adapter) adapter->resize(width(), height());
}

vtkOpenGLFramebufferObject* SceneWidget::CurrentImage() {
  if (!adapter || !context->makeCurrent(surface.data())) return nullptr;
  // Renders when VTK has no image of this size yet; frames render as they arrive.
  adapter->paint();
  // The framebuffer VTK rendered into; a multisampled one cannot be read, and
  // its resolved copy is in the display framebuffer.
  vtkOpenGLFramebufferObject* shown = window->GetRenderFramebuffer();
  if (!shown || shown->GetMultiSamples() > 1) shown = window->GetDisplayFramebuffer();
  const int* size = shown ? shown->GetLastSize() : nullptr;
  return size && size[0] > 0 && size[1] > 0 ? shown : nullptr;
}

void SceneWidget::ReadPixels(vtkOpenGLFramebufferObject* shown, uchar* bits, qsizetype stride, int width, int height) {
  vtkOpenGLState* state = window->GetState();
  state->PushReadFramebufferBinding();
  shown->Bind(GL_READ_FRAMEBUFFER);
  shown->ActivateReadBuffer(0);
  QOpenGLExtraFunctions* f = context->extraFunctions();
  f->glPixelStorei(GL_PACK_ALIGNMENT, 4);
  f->glPixelStorei(GL_PACK_ROW_LENGTH, static_cast<GLint>(stride / 4));
  // Read as rendered: asked for in another byte order, Mesa converts pixel by
  // pixel, several times slower than the pass below.
  f->glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, bits);
  f->glPixelStorei(GL_PACK_ROW_LENGTH, 0);
  state->PopReadFramebufferBinding();
  ToDisplayOrder(bits, stride, width, height);
}

void SceneWidget::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  vtkOpenGLFramebufferObject* shown = CurrentImage();
  if (!shown) {
    painter.fillRect(rect(), Qt::black);
    return;
  }
  const int* size = shown->GetLastSize();
  // The whole view at its rendered size goes straight into the window's
  // image, where Qt would otherwise copy it from an image of ours: one
  // full-size buffer less, and one pass less.
  QPaintDevice* device = painter.paintEngine()->paintDevice();
  QImage* store = device && device->devType() == QInternal::Image ? static_cast<QImage*>(device) : nullptr;
  const QTransform& place = painter.deviceTransform();
  const QRect target = QRect(QPoint(qRound(place.dx()), qRound(place.dy())), QSize(size[0], size[1]));
  if (store && painter.paintEngine()->type() == QPaintEngine::Raster && place.type() <= QTransform::TxTranslate &&
      (store->format() == QImage::Format_RGB32 || store->format() == QImage::Format_ARGB32_Premultiplied) &&
      store->devicePixelRatioF() == 1.0 && size[0] == width() && size[1] == height() &&
      store->rect().contains(target) && event->region().contains(rect())) {
    ReadPixels(shown, store->scanLine(target.y()) + 4 * target.x(), store->bytesPerLine(), size[0], size[1]);
  } else {
    // A part of the view (an uncovered corner), or an image of another size
    // than the view (before the first render after a resize): through an
    // image of its own, scaled to the view.
    QImage image(size[0], size[1], QImage::Format_RGB32);
    ReadPixels(shown, image.bits(), image.bytesPerLine(), size[0], size[1]);
    painter.drawImage(rect(), image);
  }
  emit Presented();
}
