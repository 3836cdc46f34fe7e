#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <thread>

class KXProtocol;

// The live link's life: connecting, the sensor's start and stop commands,
// watching, closing. Connecting may block for seconds (a network address
// gives up only after five), and so may a command: it waits half a second for
// the sensor's acknowledgement and, without one, opens the port anew and
// sends it again. Both run on a thread of their own and report back on the
// GUI thread; while one runs, the window calls nothing else on the protocol
// object. Once connected, the link is watched: a port that fails (an
// unplugged device, a peer that closed the connection) is closed and
// reported within a fraction of a second.
class LinkControl : public QObject {
  Q_OBJECT

 public:
  enum class State { Disconnected, Connecting, Connected };
  enum class Command { Start, Stop };
  static constexpr int kWatchMs = 250;

  LinkControl(KXProtocol* protocol, QObject* parent);
  // Waits for what runs on the link's thread, so that nothing it opens is left behind.
  ~LinkControl() override;

  State Current() const { return state; }
  // A connect or a command runs: the window keeps its link controls still.
  bool Busy() const { return worker.joinable(); }
  // The port of the link open or being opened, or of the last one.
  QString Port() const { return port; }
  // Starts connecting. False, with the address parser's reason, for a
  // malformed port text: then nothing is started.
  bool Start(const QString& port, int baud, QString* error);
  // Sends a command to the sensor; commandDone tells the outcome. False, with
  // nothing sent, while no link is open or something else runs.
  bool Send(Command command);
  // The sensor acknowledged 启动 on this link, and 停止 not since.
  bool SensorStarted() const { return sensorStarted.load(); }
  // Waits for a connect or command under way (closing the window).
  void Settle();
  // Closes an open link; not while a command runs (the window does not offer it then).
  void Stop();

 signals:
  void connected();
  void failed(const QString& reason);
  void lost(const QString& reason);
  void commandDone(LinkControl::Command command, bool ok);

 private:
  void Finish(bool ok);
  void Finish(Command command, bool ok);
  void Watch();

  KXProtocol* protocol;
  State state = State::Disconnected;
  QString port;
  std::thread worker;
  std::atomic<bool> sensorStarted{false};
  QTimer watch;
};
