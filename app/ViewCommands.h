#pragma once

#include <QObject>
#include <QString>

class DiagnosisDock;
class QAction;
class QMainWindow;
class QMenu;
class StatusLine;
class vtkViewer;

// The commands on what the view shows: 显示 → 暂停 (hold, also the space bar),
// 余辉… (trails), 恢复默认设置, and 文件 → 保存当前帧…. Hold is a state of the
// view alone: the worker, the CSV rows, the labels and the counters go on.
class ViewCommands : public QObject {
  Q_OBJECT

 public:
  // Puts hold first in `viewMenu`, trails before `trailsBefore`, restoring the
  // defaults last; saving the frame goes at the end of `fileMenu`. `saveDir` is
  // the window's last folder. The actions belong to `window`, as its own do.
  ViewCommands(QMainWindow* window, QMenu* viewMenu, QMenu* fileMenu, QAction* trailsBefore, vtkViewer* view,
               DiagnosisDock* dock, StatusLine* status, QString* saveDir);

 signals:
  // A setting the window keeps has changed (the trail length, the folder).
  void settingsChanged();
  // 恢复默认设置: the window puts its first-start settings back.
  void restoreDefaults();
};
