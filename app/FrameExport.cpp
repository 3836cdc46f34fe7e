#include "app/FrameExport.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QTemporaryFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "scan/PcdFile.h"
#include "viewer/vtkViewer.h"

bool FrameExport::WriteReplacing(const QString& path, const std::function<bool(const QString&, QString*)>& write,
                                 QString* error) {
  const QFileInfo target(path);
  // Hidden and in the same folder: the rename stays on one file system.
  QTemporaryFile temp(target.absolutePath() + "/." + target.fileName() + ".XXXXXX");
  if (!temp.open()) {
    *error = temp.errorString();
    return false;
  }
  temp.close();  // the writers open the file by name; it stays until renamed
  if (!write(temp.fileName(), error)) return false;
  temp.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                      QFileDevice::ReadOther);
  // rename() replaces an existing file in one step; QFile::rename would not.
  if (std::rename(QFile::encodeName(temp.fileName()).constData(), QFile::encodeName(path).constData()) != 0) {
    *error = QString::fromLocal8Bit(std::strerror(errno));
    return false;
  }
  temp.setAutoRemove(false);  // it is the saved file now
  return true;
}

bool FrameExport::WritePcd(const QString& path, const std::vector<KXScanPoint>& frame, int rotationSign,
                           QString* error) {
  return WriteReplacing(
      path,
      [&](const QString& temp, QString* why) {
        std::string reason;
        if (WritePcdFile(QFile::encodeName(temp).toStdString(), frame, rotationSign, reason)) return true;
        *why = QString::fromStdString(reason);
        return false;
      },
      error);
}

bool FrameExport::WritePng(const QString& path, const QImage& image, QString* error) {
  return WriteReplacing(
      path,
      [&](const QString& temp, QString* why) {
        QFile file(temp);
        if (!image.isNull() && file.open(QIODevice::WriteOnly) && image.save(&file, "PNG") && file.flush()) {
          file.close();
          if (file.error() == QFileDevice::NoError) return true;
        }
        *why = image.isNull() ? QStringLiteral("no image") : file.errorString();
        return false;
      },
      error);
}

bool FrameExport::SaveShown(QWidget* parent, vtkViewer& view, QString* saveDir, QString* note) {
  const QString pcdFilter = tr("PCD 点云 (*.pcd)");
  const QString pngFilter = tr("PNG 图像 (*.png)");
  QString filter = pcdFilter;
  QString path =
      QFileDialog::getSaveFileName(parent, tr("保存当前帧"), *saveDir, pcdFilter + ";;" + pngFilter, &filter);
  if (path.isEmpty()) return false;
  // The name's suffix chooses the format; without one, the chosen filter does.
  QString suffix = QFileInfo(path).suffix().toLower();
  if (suffix != "pcd" && suffix != "png") {
    suffix = filter == pngFilter ? "png" : "pcd";
    path += "." + suffix;
  }
  QString error;
  // A held view shows, and so saves, the held revolutions.
  const bool saved = suffix == "png" ? WritePng(path, view.GrabImage(), &error)
                                     : WritePcd(path, view.NewestFrame(), view.rotationSign, &error);
  if (!saved) {
    qWarning("lds-tool: saving %s failed: %s", qUtf8Printable(path), qUtf8Printable(error));
    *note = tr("写入 %1 失败：%2").arg(path, error);
    QMessageBox::critical(parent, tr("错误"), tr("写入保存文件失败！"));
    return false;
  }
  *saveDir = QFileInfo(path).absolutePath();
  *note = tr("已保存当前帧 %1").arg(QFileInfo(path).fileName());
  return true;
}
