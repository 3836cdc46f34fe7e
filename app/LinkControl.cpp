#include "app/LinkControl.h"

#include <pthread.h>

#include "protocol/KXProtocol.h"
#include "serial/PortAddress.h"

LinkControl::LinkControl(KXProtocol* protocol, QObject* parent) : QObject(parent), protocol(protocol) {
  watch.setInterval(kWatchMs);
  connect(&watch, &QTimer::timeout, this, &LinkControl::Watch);
}

// Its report, still queued, goes with this object.
LinkControl::~LinkControl() { Settle(); }

void LinkControl::Settle() {
  if (worker.joinable()) worker.join();
}

bool LinkControl::Start(const QString& text, int baud, QString* error) {
  if (state != State::Disconnected || Busy()) return false;
  PortAddress address;
  std::string invalid;
  if (!ParsePortAddress(text.toStdString(), address, invalid)) {
    *error = QString::fromStdString(invalid);
    return false;
  }
  port = text;
  state = State::Connecting;
  worker = std::thread([this, target = text.toStdString(), baud] {
    pthread_setname_np(pthread_self(), "lds-connect");
    const bool ok = protocol->Connect(target, baud);
    QMetaObject::invokeMethod(
        this, [this, ok] { Finish(ok); }, Qt::QueuedConnection);
  });
  return true;
}

void LinkControl::Finish(bool ok) {
  Settle();
  if (!ok) {
    state = State::Disconnected;
    const QString reason = QString::fromStdString(protocol->LastError());
    emit failed(reason.isEmpty() ? tr("原因不明") : reason);
    return;
  }
  state = State::Connected;
  sensorStarted = false;
  watch.start();
  emit connected();
}

bool LinkControl::Send(Command command) {
  if (state != State::Connected || Busy()) return false;
  worker = std::thread([this, command] {
    pthread_setname_np(pthread_self(), "lds-command");
    const bool ok = command == Command::Start ? protocol->EnableLidar() : protocol->DisableLidar();
    if (ok) sensorStarted = command == Command::Start;
    QMetaObject::invokeMethod(
        this, [this, command, ok] { Finish(command, ok); }, Qt::QueuedConnection);
  });
  return true;
}

void LinkControl::Finish(Command command, bool ok) {
  Settle();
  emit commandDone(command, ok);
}

void LinkControl::Stop() {
  if (state != State::Connected || Busy()) return;
  watch.stop();
  protocol->Disconnect();
  state = State::Disconnected;
  sensorStarted = false;
}

void LinkControl::Watch() {
  // A command that goes unanswered closes and reopens the port before trying
  // again: not a lost link, and not to be looked at meanwhile.
  if (state != State::Connected || Busy() || protocol->IsConnected()) return;
  // The reason is the failed port's: read it before closing what is left.
  const QString reason = QString::fromStdString(protocol->LastError());
  Stop();
  emit lost(reason.isEmpty() ? tr("原因不明") : reason);
}
