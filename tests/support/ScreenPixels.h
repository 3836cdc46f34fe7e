#pragma once

// What the X server shows: the root window's pixels under a widget, read with
// XGetImage on a connection of our own. A grab would render on demand and so
// show a picture the screen may never have held.
#include <QApplication>
#include <QImage>
#include <QWidget>

// Last: Xlib defines macros (None, Bool, Status) that other headers use as names.
// clang-format off
#include <X11/Xlib.h>
#include <X11/Xutil.h>
// clang-format on

inline QImage ScreenPixels(const QWidget* w) {
  static Display* display = XOpenDisplay(nullptr);
  QApplication::processEvents();
  QApplication::sync();  // our own requests (the swap of the last frame) first
  const QPoint at = w->mapToGlobal(QPoint(0, 0));
  const Window root = DefaultRootWindow(display);
  XWindowAttributes screen{};
  XGetWindowAttributes(display, root, &screen);
  const int x = std::max(0, at.x()), y = std::max(0, at.y());
  const int width = std::min(w->width(), screen.width - x), height = std::min(w->height(), screen.height - y);
  if (width <= 0 || height <= 0) return QImage();
  XImage* image = XGetImage(display, root, x, y, width, height, AllPlanes, ZPixmap);
  if (!image) return QImage();
  QImage out(width, height, QImage::Format_RGB32);
  for (int row = 0; row < height; ++row)
    for (int col = 0; col < width; ++col) out.setPixel(col, row, 0xff000000u | XGetPixel(image, col, row));
  XDestroyImage(image);
  return out;
}

// The scene without the legend, which stands in the right tenth of the view.
inline QImage SceneArea(const QImage& view) { return view.copy(0, 0, view.width() * 85 / 100, view.height()); }

// Pixels that pass `keep`, e.g. the coloured points of a frame or the red
// measuring line; grey background, axes, rings and labels pass neither.
template <typename Keep>
int CountPixels(const QImage& image, Keep keep) {
  int n = 0;
  for (int row = 0; row < image.height(); ++row)
    for (int col = 0; col < image.width(); ++col) n += keep(image.pixel(col, row));
  return n;
}
inline bool Coloured(QRgb c) {
  return std::max({qRed(c), qGreen(c), qBlue(c)}) - std::min({qRed(c), qGreen(c), qBlue(c)}) > 60;
}
inline bool Red(QRgb c) { return qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) < 60; }
