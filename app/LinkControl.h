#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <thread>

class KXProtocol;

// The live link's life: connecting, watching, closing. Connecting may block
// for seconds (a network address gives up only after five), so it runs on a
// thread of its own and reports back on the GUI thread; while it runs, the
// window calls nothing else on the protocol object. Once connected, the link
// is watched: a port that fails (an unplugged device, a peer that closed the
// connection) is closed and reported within a fraction of a second.
class LinkControl : public QObject {
  Q_OBJECT

 public:
  enum class State { Disconnected, Connecting, Connected };
  static constexpr int kWatchMs = 250;

  LinkControl(KXProtocol* protocol, QObject* parent);
  // Waits for an attempt under way, so that nothing it opens is left behind.
  ~LinkControl() override;

  State Current() const { return state; }
  // The port of the link open or being opened, or of the last one.
  QString Port() const { return port; }
  // Starts connecting. False, with the address parser's reason, for a
  // malformed port text: then nothing is started.
  bool Start(const QString& port, int baud, QString* error);
  // Closes an open link.
  void Stop();

 signals:
  void connected();
  void failed(const QString& reason);
  void lost(const QString& reason);

 private:
  void Finish(bool ok);
  void Watch();

  KXProtocol* protocol;
  State state = State::Disconnected;
  QString port;
  std::thread attempt;
  QTimer watch;
};
