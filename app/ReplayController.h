#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>
#include <thread>

#include "app/ReplayCursor.h"

class FeedGate;
class KXProtocol;
class QAction;
class QLabel;
class QMainWindow;
class QMenu;
class QSlider;
class QToolBar;
class StatusLine;

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
  // Through `gate` it has the worker reset its frame when decoding starts
  // anew, and keep a jump's warm-up out of the CSV file.
  ReplayController(KXProtocol* protocol, FeedGate* gate, QMainWindow* window, QMenu* fileMenu, StatusLine* status,
                   QString* lastDir);
  ~ReplayController() override;

  bool IsOpen() const { return open; }
  // Reads the file beside the event loop, then plays it; a file that cannot
  // be read gives a message box and the reason on the status line. Ignored
  // while another file is being read.
  void Open(const QString& path);
  void Close();
  bool Playing() const { return cursor.Playing(); }
  QString Position() const;
  // Shows whole revolution `k` (0 is the beginning), exactly as playing up to it would.
  void Seek(int k);
  // The file to open for a name typed in the open dialog: the name as it
  // stands when such a file exists, else with ".raw" added when it has no
  // extension.
  static QString RecordingPath(const QString& typed);
  // The angle offset changed: the revolutions are counted where the frames now end.
  void AngleOffsetChanged();

 signals:
  // Before the first byte of the file at `path`: the window lets go of the live link.
  void aboutToOpen(const QString& path);
  // The decoder has been reset and plays anew: the counters start anew.
  void restarted();
  void closed();

 private:
  // The file has been read (`opened`), or could not be, for `error`.
  void Opened(const QString& path, const std::shared_ptr<ReplayCursor>& opened, const QString& error);
  void SetPlaying(bool play);
  void Tick();
  void Restart();
  // Decoding starts anew: the decoder, the worker's frame and the view's trail, the counters.
  void Restarted();
  void ShowPosition();
  int64_t NowMs() const { return clock.elapsed(); }

  KXProtocol* protocol;
  FeedGate* gate;
  QMainWindow* window;
  StatusLine* status;
  QString* lastDir;
  std::thread loader;
  bool loading = false;
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
