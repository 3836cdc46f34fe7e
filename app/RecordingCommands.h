#pragma once

#include <QObject>
#include <QString>

#include "app/RawSaver.h"

class DiagnosisDock;
class FeedGate;
class KXProtocol;
class QAction;
class QMainWindow;
class QMenu;
class ReplayController;
class StatusLine;

// 文件 → 保存原始数据… (while connected: the live link's bytes into a file)
// and 打开录制… / 关闭录制 (a recording plays instead of the live link).
class RecordingCommands : public QObject {
  Q_OBJECT

 public:
  // Adds its entries to the end of `fileMenu`. `saveDir` is the window's last
  // folder; `gate` is the worker's (see ReplayController).
  RecordingCommands(KXProtocol* protocol, FeedGate* gate, DiagnosisDock* dock, QMainWindow* window, QMenu* fileMenu,
                    StatusLine* status, QString* saveDir);

  // The live link to `port` opened, or closed: raw saving is offered only
  // while it is open, and ends with it. The plots start anew with each link.
  // LinkClosed returns the status line's note on a raw file it ended, or nothing.
  void LinkOpened(const QString& port);
  QString LinkClosed();
  // Ends a replay, for the live link to take over.
  void CloseReplay();
  // The angle offset changed: a replay counts its revolutions anew.
  void AngleOffsetChanged();

  // Called by the worker on each pass: writes the bytes that have arrived. A
  // failure unchecks the entry and says so, on the GUI thread.
  void FlushRaw();
  // On closing the window: writes the rest without asking anything.
  void FinishRaw();

 signals:
  // A recording is about to play: the window lets go of the live link.
  void replayOpening();
  // The folder has changed.
  void settingsChanged();

 private:
  // Returns the note on what was kept, or nothing when no file was open.
  QString StopRawSaving();

  KXProtocol* protocol;
  QMainWindow* window;
  StatusLine* status;
  QString rawName;  // the file's name, for the status line
  RawSaver rawSaver;
  DiagnosisDock* dock;
  QAction* saveRawAction = nullptr;
  ReplayController* replay = nullptr;
};
