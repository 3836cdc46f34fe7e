#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>

#include "protocol/RawReplay.h"

class KXProtocol;
class QAction;
class QLabel;
class QMainWindow;
class QMenu;
class QToolBar;

// 文件 → 打开录制…: plays a raw recording into the window's protocol object,
// so that the worker, the view, the CSV rows and the counters take it as a
// live link. Paced by the packets' timestamps (原速) or as fast as the
// worker keeps up (最快). Its tool bar (播放/暂停, 下一圈, 回到开头, the
// speed and the position) exists only while a recording is open.
class ReplayController : public QObject {
  Q_OBJECT

 public:
  // Adds its entries to `fileMenu`; `lastDir` is the window's last folder.
  ReplayController(KXProtocol* protocol, QMainWindow* window, QMenu* fileMenu, QString* lastDir);

  bool IsOpen() const { return open; }
  // Opens and starts playing; a file that cannot be read gives a message box.
  bool Open(const QString& path);
  void Close();
  bool Playing() const { return timer.isActive(); }
  QString Position() const;

 signals:
  // Before the first byte: the window lets go of the live link.
  void aboutToOpen();
  // The decoder has been reset and plays from the start: the frame and the counters start anew.
  void restarted();
  void closed();

 private:
  void SetPlaying(bool play);
  void Tick();
  void Restart();
  void ShowPosition();

  KXProtocol* protocol;
  QMainWindow* window;
  QString* lastDir;
  RawReplay reader;
  bool open = false;
  QTimer timer;
  QElapsedTimer clock;      // since playing (re)started at the recorded pace
  int64_t clockBaseMs = 0;  // the recording's time at that moment
  QToolBar* bar = nullptr;
  QAction* closeAction = nullptr;
  QAction* playAction = nullptr;
  QAction* fastAction = nullptr;
  QLabel* position = nullptr;
};
