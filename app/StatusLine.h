#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <cstdint>

#include "app/LinkHealth.h"

class DiagnosisDock;
class KXProtocol;
class QStatusBar;

// The clock of the window's samples: the revolutions' figures and the link
// counters are plotted against it, so both take their times from here.
inline int64_t MonotonicMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The status bar's line: the link's health once a second while a link (live
// or replayed) is open, and "画面已暂停" while the view is held. The same tick
// feeds the diagnosis view's link plots.
class StatusLine : public QObject {
  Q_OBJECT

 public:
  StatusLine(KXProtocol* protocol, QStatusBar* bar, DiagnosisDock* dock, QObject* parent);

  // A link opened: its counters as they stand are the baseline.
  void LinkStarted();
  void LinkEnded();
  void SetHeld(bool held);

 private:
  // Runs once a second while a link is open or the view is held: a menu's
  // status tips wipe the line while it is open, and this puts it back.
  void Update();
  void Show();

  KXProtocol* protocol;
  QStatusBar* bar;
  DiagnosisDock* dock;
  QTimer timer;
  LinkHealth linkHealth;
  QString linkLine;
  bool held = false;
};
