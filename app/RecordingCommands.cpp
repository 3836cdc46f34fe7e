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

RecordingCommands::RecordingCommands(KXProtocol* protocol, FeedGate* gate, DiagnosisDock* dock, QMainWindow* window,
                                     QMenu* fileMenu, StatusLine* status, QString* saveDir)
    : QObject(window), protocol(protocol), window(window), status(status), dock(dock) {
  saveRawAction = fileMenu->addAction(tr("保存原始数据…"));
  saveRawAction->setObjectName("actionSaveRaw");
  saveRawAction->setCheckable(true);
  saveRawAction->setEnabled(false);  // while connected
  connect(saveRawAction, &QAction::triggered, this, [this, saveDir](bool on) {
    if (!on) {
      this->status->SetNote(StopRawSaving());
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
      if (file.isEmpty()) return;
      this->status->SetNote(tr("无法打开 %1：%2").arg(file, QString::fromStdString(error)));
      QMessageBox::critical(this->window, tr("错误"), tr("打开保存文件失败！"));
      return;
    }
    rawName = QFileInfo(file).fileName();
    this->status->SetNote(QString());
    this->status->SetRecording(StatusLine::Recording::Raw, [this] {
      return tr("正在保存原始数据 %1 · %2 字节").arg(rawName).arg(rawSaver.Written());
    });
    *saveDir = QFileInfo(file).absolutePath();
    emit settingsChanged();
  });

  fileMenu->addSeparator();
  // The controller belongs to the window, where its tool bar goes.
  replay = new ReplayController(protocol, gate, window, fileMenu, status, saveDir);
  connect(replay, &ReplayController::aboutToOpen, this, [this](const QString& path) {
    emit replayOpening();
    emit settingsChanged();  // the folder
    this->dock->StartSource(tr("回放 %1").arg(QFileInfo(path).fileName()));
  });
  // The counters start anew, as on connecting; the plots break their lines.
  connect(replay, &ReplayController::restarted, this, [this, status] {
    status->LinkStarted();
    this->dock->BreakLines();
  });
  connect(replay, &ReplayController::closed, status, &StatusLine::LinkEnded);
}

void RecordingCommands::LinkOpened(const QString& port) {
  saveRawAction->setEnabled(true);
  dock->StartSource(tr("实时 %1，%2 连接").arg(port, QTime::currentTime().toString("HH:mm:ss")));
}

QString RecordingCommands::LinkClosed() {
  saveRawAction->setEnabled(false);
  return StopRawSaving();
}

void RecordingCommands::CloseReplay() { replay->Close(); }

void RecordingCommands::AngleOffsetChanged() { replay->AngleOffsetChanged(); }

void RecordingCommands::FlushRaw() {
  std::string error;
  if (rawSaver.Flush(error)) return;
  qWarning("lds-tool: writing the raw data failed: %s", error.c_str());
  QMetaObject::invokeMethod(
      this,
      [this, error] {
        saveRawAction->setChecked(false);
        status->SetRecording(StatusLine::Recording::Raw, nullptr);
        status->SetNote(tr("写入 %1 失败：%2").arg(rawName, QString::fromStdString(error)));
        QMessageBox::critical(window, tr("错误"), tr("写入保存文件失败！"));
      },
      Qt::QueuedConnection);
}

void RecordingCommands::FinishRaw() {
  std::string error;
  if (!rawSaver.Stop(error)) qWarning("lds-tool: writing the raw data failed: %s", error.c_str());
}

QString RecordingCommands::StopRawSaving() {
  const bool wasSaving = rawSaver.Active();
  std::string error;
  const bool ok = rawSaver.Stop(error);
  saveRawAction->setChecked(false);
  status->SetRecording(StatusLine::Recording::Raw, nullptr);
  if (!ok) QMessageBox::critical(window, tr("错误"), tr("写入保存文件失败！"));
  if (!ok) return tr("写入 %1 失败：%2").arg(rawName, QString::fromStdString(error));
  return wasSaving ? tr("已保存原始数据 %1 · %2 字节").arg(rawName).arg(rawSaver.Written()) : QString();
}
