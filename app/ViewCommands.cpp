#include "app/ViewCommands.h"

#include <QAction>
#include <QInputDialog>
#include <QMainWindow>
#include <QMenu>

#include "app/DiagnosisDock.h"
#include "app/FrameExport.h"
#include "app/StatusLine.h"
#include "viewer/vtkViewer.h"

ViewCommands::ViewCommands(QMainWindow* window, QMenu* viewMenu, QMenu* fileMenu, QAction* trailsBefore,
                           vtkViewer* view, DiagnosisDock* dock, StatusLine* status, QString* saveDir)
    : QObject(window) {
  QAction* holdAction = new QAction(tr("暂停"), window);
  holdAction->setObjectName("actionHold");
  holdAction->setCheckable(true);
  holdAction->setShortcut(Qt::Key_Space);
  viewMenu->insertAction(viewMenu->actions().value(0), holdAction);
  viewMenu->insertSeparator(viewMenu->actions().value(1));
  connect(holdAction, &QAction::toggled, this, [=](bool held) {
    holdAction->setText(held ? tr("继续") : tr("暂停"));
    view->SetHeld(held);
    dock->SetFrozen(held);
    status->SetHeld(held);
  });
  // Space holds from the start: the port box, which would take it as text,
  // does not have the focus until the operator clicks it.
  view->setFocus();

  // Trails, after the point size; saving the frame on the view, after the CSV file.
  QAction* trails = new QAction(tr("余辉…"), window);
  trails->setObjectName("actionTrails");
  viewMenu->insertAction(trailsBefore, trails);
  connect(trails, &QAction::triggered, this, [=] {
    bool ok = false;
    const int n = QInputDialog::getInt(window, tr("余辉"), tr("显示最近几圈（1–20）"), view->TrailLength(), 1,
                                       vtkViewer::kMaxTrail, 1, &ok);
    if (ok) view->SetTrailLength(n);
  });
  QAction* saveFrame = fileMenu->addAction(tr("保存当前帧…"));
  saveFrame->setObjectName("actionSaveFrame");
  connect(saveFrame, &QAction::triggered, this, [=] {
    QString note;
    FrameExport::SaveShown(window, *view, saveDir, &note);
    if (!note.isEmpty()) status->SetNote(note);
  });
  for (QAction* a : {trails, saveFrame}) connect(a, &QAction::triggered, this, &ViewCommands::settingsChanged);

  viewMenu->addSeparator();
  QAction* restore = viewMenu->addAction(tr("恢复默认设置"));
  restore->setObjectName("actionRestoreDefaults");
  connect(restore, &QAction::triggered, this, &ViewCommands::restoreDefaults);
}
