#include "app/RecordingCommands.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QTime>

#include "app/DiagnosisDock.h"
#include "app/ReplayController.h"
#include "app/StatusLine.h"
#include "protocol/KXProtocol.h"

RecordingCommands::RecordingCommands(KXProtocol* protocol, const std::atomic<bool>* frameResetPending, vtkViewer* view,
                                     DiagnosisDock* dock, QMainWindow* window, QMenu* fileMenu, StatusLine* status,
                                     QString* saveDir)
    : QObject(window), protocol(protocol), window(window), dock(dock) {
  saveRawAction = fileMenu->addAction(tr("保存原始数据…"));
  saveRawAction->setObjectName("actionSaveRaw");
  saveRawAction->setCheckable(true);
  saveRawAction->setEnabled(false);  // while connected
  connect(saveRawAction, &QAction::triggered, this, [this, saveDir](bool on) {
    if (!on) {
      StopRawSaving();
      return;
    }
    QFileDialog dialog(this->window, tr("保存原始数据"), *saveDir, tr("原始数据 (*.raw)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    // A name without an extension gets ".raw" before the dialog asks about
    // replacing a file: the recording is then listed when opening one.
    dialog.setDefaultSuffix("raw");
    const QString file = dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
    std::string error;
    if (file.isEmpty() || !rawSaver.Start(*this->protocol, file.toStdString(), error)) {
      saveRawAction->setChecked(false);
      if (!file.isEmpty()) QMessageBox::critical(this->window, tr("错误"), tr("打开保存文件失败！"));
      return;
    }
    *saveDir = QFileInfo(file).absolutePath();
    emit settingsChanged();
  });

  fileMenu->addSeparator();
  // The controller belongs to the window, where its tool bar goes.
  replay = new ReplayController(protocol, frameResetPending, view, window, fileMenu, saveDir);
  connect(replay, &ReplayController::aboutToOpen, this, [this](const QString& path) {
    emit replayOpening();
    emit settingsChanged();  // the folder
    this->dock->StartSource(tr("回放 %1").arg(QFileInfo(path).fileName()));
  });
  // The counters start anew, as on connecting; the plots break their lines.
  connect(replay, &ReplayController::restarted, this, [this, status] {
    emit replayRestarted();
    status->LinkStarted();
    this->dock->BreakLines();
  });
  connect(replay, &ReplayController::closed, status, &StatusLine::LinkEnded);
}

void RecordingCommands::LinkOpened() {
  saveRawAction->setEnabled(true);
  dock->StartSource(tr("实时，%1 连接").arg(QTime::currentTime().toString("HH:mm:ss")));
}

void RecordingCommands::LinkClosed() {
  StopRawSaving();
  saveRawAction->setEnabled(false);
}

void RecordingCommands::CloseReplay() { replay->Close(); }

void RecordingCommands::FlushRaw() {
  std::string error;
  if (rawSaver.Flush(error)) return;
  qWarning("lds-tool: writing the raw data failed: %s", error.c_str());
  QMetaObject::invokeMethod(
      this,
      [this] {
        saveRawAction->setChecked(false);
        QMessageBox::critical(window, tr("错误"), tr("写入保存文件失败！"));
      },
      Qt::QueuedConnection);
}

void RecordingCommands::FinishRaw() {
  std::string error;
  if (!rawSaver.Stop(error)) qWarning("lds-tool: writing the raw data failed: %s", error.c_str());
}

void RecordingCommands::StopRawSaving() {
  std::string error;
  const bool ok = rawSaver.Stop(error);
  saveRawAction->setChecked(false);
  if (!ok) QMessageBox::critical(window, tr("错误"), tr("写入保存文件失败！"));
}
