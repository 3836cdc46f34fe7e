#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>

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

// The status bar's line, in parts that live side by side: the last thing that
// happened (a note: a file saved, a connect that failed, a link lost), the
// recordings under way with their counts, the link's health while a link
// (live or replayed) is open, and "画面已暂停" while the view is held. A
// once-a-second tick refreshes the counts and feeds the diagnosis view's link
// plots; it never wipes a part.
class StatusLine : public QObject {
  Q_OBJECT

 public:
  enum class Recording { Csv, Raw };

  StatusLine(KXProtocol* protocol, QStatusBar* bar, DiagnosisDock* dock, QObject* parent);

  // A link opened: its counters as they stand are the baseline.
  void LinkStarted();
  void LinkEnded();
  void SetHeld(bool held);
  // Replaces the note; an empty text removes it.
  void SetNote(const QString& note);
  QString Note() const { return note; }
  // A recording's part, asked for anew on every refresh; an empty function ends it.
  void SetRecording(Recording which, std::function<QString()> part);

 private:
  // Runs once a second while anything on the line changes by itself: a
  // menu's status tips wipe the line while it is open, and this puts it back.
  void Update();
  void Show();
  void Retime();

  KXProtocol* protocol;
  QStatusBar* bar;
  DiagnosisDock* dock;
  QTimer timer;
  LinkHealth linkHealth;
  QString linkLine;
  QString note;
  std::function<QString()> recordings[2];
  bool held = false;
};
