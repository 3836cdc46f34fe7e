#pragma once

#include <QCoreApplication>
#include <QImage>
#include <QString>
#include <functional>
#include <vector>

#include "protocol/KXScanPoint.h"

class QWidget;
class vtkViewer;

// 文件 → 保存当前帧…: the frame on the view, as a PCD file of its newest
// revolution (the fields of the recorder's PCD files) or as a PNG image of
// the view's pixels. A file is written under a temporary name in the chosen
// folder and renamed into place only when complete, so a failure never leaves
// a partial file under the chosen name.
class FrameExport {
  Q_DECLARE_TR_FUNCTIONS(FrameExport)

 public:
  // Asks for the file in *saveDir, writes it, and on success makes its folder
  // the new *saveDir. A write error shows a message box. True when saved.
  // `note` gets the status line's words on what happened (none when cancelled).
  static bool SaveShown(QWidget* parent, vtkViewer& view, QString* saveDir, QString* note);

  static bool WritePcd(const QString& path, const std::vector<KXScanPoint>& frame, int rotationSign, QString* error);
  static bool WritePng(const QString& path, const QImage& image, QString* error);

 private:
  // Runs `write` on a fresh temporary file beside `path`, then renames it to
  // `path`; the temporary is removed whenever a step fails.
  static bool WriteReplacing(const QString& path, const std::function<bool(const QString&, QString*)>& write,
                             QString* error);
};
