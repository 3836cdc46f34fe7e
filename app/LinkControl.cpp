#include "app/LinkControl.h"

#include <pthread.h>

#include "protocol/KXProtocol.h"
#include "serial/PortAddress.h"

LinkControl::LinkControl(KXProtocol* protocol, QObject* parent) : QObject(parent), protocol(protocol) {
  watch.setInterval(kWatchMs);
  connect(&watch, &QTimer::timeout, this, &LinkControl::Watch);
}

LinkControl::~LinkControl() {
  // Its report, still queued, goes with this object.
  if (attempt.joinable()) attempt.join();
}

bool LinkControl::Start(const QString& text, int baud, QString* error) {
  if (state != State::Disconnected) return false;
  PortAddress address;
  std::string invalid;
  if (!ParsePortAddress(text.toStdString(), address, invalid)) {
    *error = QString::fromStdString(invalid);
    return false;
  }
  port = text;
  state = State::Connecting;
  attempt = std::thread([this, target = text.toStdString(), baud] {
    pthread_setname_np(pthread_self(), "lds-connect");
    const bool ok = protocol->Connect(target, baud);
    QMetaObject::invokeMethod(
        this, [this, ok] { Finish(ok); }, Qt::QueuedConnection);
  });
  return true;
}

void LinkControl::Finish(bool ok) {
  attempt.join();
  if (!ok) {
    state = State::Disconnected;
    const QString reason = QString::fromStdString(protocol->LastError());
    emit failed(reason.isEmpty() ? tr("原因不明") : reason);
    return;
  }
  state = State::Connected;
  watch.start();
  emit connected();
}

void LinkControl::Stop() {
  if (state != State::Connected) return;
  watch.stop();
  protocol->Disconnect();
  state = State::Disconnected;
}

void LinkControl::Watch() {
  if (state != State::Connected || protocol->IsConnected()) return;
  // The reason is the failed port's: read it before closing what is left.
  const QString reason = QString::fromStdString(protocol->LastError());
  Stop();
  emit lost(reason.isEmpty() ? tr("原因不明") : reason);
}
