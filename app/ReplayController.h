#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>

#include "app/ReplayCursor.h"

class KXProtocol;
class QAction;
class QLabel;
class QMainWindow;
class QMenu;
class QSlider;
class QToolBar;
class vtkViewer;

// 文件 → 打开录制…: plays a raw recording into the window's protocol object,
// so that the worker, the view, the CSV rows and the counters take it as a
// live link. Paced by the packets' timestamps (原速) or as fast as the
// worker keeps up (最快). Its tool bar (the file's name, 播放/暂停, 上一圈,
// 下一圈, 回到开头, the speed, a position slider and the position) exists
// only while a recording is open.
class ReplayController : public QObject {
  Q_OBJECT

 public:
  // Adds its entries to `fileMenu`; `lastDir` is the window's last folder.
  // The worker clears `frameResetPending` once it has reset its frame: only
  // then may the bytes that follow a restart go to the decoder.
  ReplayController(KXProtocol* protocol, const std::atomic<bool>* frameResetPending, vtkViewer* view,
                   QMainWindow* window, QMenu* fileMenu, QString* lastDir);

  bool IsOpen() const { return open; }
  // Opens and starts playing; a file that cannot be read gives a message box.
  bool Open(const QString& path);
  void Close();
  bool Playing() const { return cursor.Playing(); }
  QString Position() const;
  // Shows whole revolution `k` (0 is the beginning), exactly as playing up to it would.
  void Seek(int k);
  // The file to open for a name typed in the open dialog: the name as it
  // stands when such a file exists, else with ".raw" added when it has no
  // extension.
  static QString RecordingPath(const QString& typed);

 signals:
  // Before the first byte of the file at `path`: the window lets go of the live link.
  void aboutToOpen(const QString& path);
  // The decoder has been reset and plays anew: the frame and the counters start anew.
  void restarted();
  void closed();

 private:
  void SetPlaying(bool play);
  void Tick();
  void Restart();
  // Decoding starts anew: the decoder, the worker's frame, the counters and the trail.
  void Restarted();
  void ShowPosition();
  int64_t NowMs() const { return clock.elapsed(); }

  KXProtocol* protocol;
  const std::atomic<bool>* frameResetPending;
  vtkViewer* view;
  // Decoding restarted: once the worker has reset its frame, the view's trail starts anew.
  bool trailEnds = false;
  QMainWindow* window;
  QString* lastDir;
  ReplayCursor cursor;
  bool open = false;
  QTimer timer;
  QElapsedTimer clock;
  QToolBar* bar = nullptr;
  QAction* closeAction = nullptr;
  QAction* playAction = nullptr;
  QAction* fastAction = nullptr;
  QSlider* slider = nullptr;
  QLabel* position = nullptr;
};
