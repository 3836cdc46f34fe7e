#pragma once

#include <QObject>
#include <csignal>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP end the program as closing the window does: the
// event loops end (a dialog's too) and the program's event loop returns 0,
// so that the window's destructor stops a sensor started on its connection,
// finishes the CSV and raw files and saves the settings. The handler only
// writes the signal's number into a socket pair, which is all a signal handler
// may safely do; the event loop reads it. One object at a time; the old
// handlers are back once it is gone.
class StopSignals : public QObject {
  Q_OBJECT

 public:
  explicit StopSignals(QObject* parent = nullptr);
  ~StopSignals() override;

 private:
  QSocketNotifier* notifier = nullptr;
  struct sigaction old[3] = {};
};
