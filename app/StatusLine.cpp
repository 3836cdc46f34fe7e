#include "app/StatusLine.h"

#include <QStatusBar>
#include <QStringList>

#include "app/DiagnosisDock.h"
#include "protocol/KXProtocol.h"

StatusLine::StatusLine(KXProtocol* protocol, QStatusBar* bar, DiagnosisDock* dock, QObject* parent)
    : QObject(parent), protocol(protocol), bar(bar), dock(dock) {
  timer.setInterval(1000);
  connect(&timer, &QTimer::timeout, this, &StatusLine::Update);
}

void StatusLine::LinkStarted() {
  linkHealth.Start(protocol->GetLinkStats(), MonotonicMs());
  linkLine.clear();  // the last link's figures are not this one's
  Retime();
}

void StatusLine::LinkEnded() {
  linkHealth.Stop();
  Retime();
  Show();
}

void StatusLine::SetHeld(bool on) {
  held = on;
  Retime();
  Show();
}

void StatusLine::SetNote(const QString& text) {
  note = text;
  Show();
}

void StatusLine::SetRecording(Recording which, std::function<QString()> part) {
  recordings[static_cast<int>(which)] = std::move(part);
  Retime();
  Show();
}

void StatusLine::Retime() {
  const bool ticking = linkHealth.Active() || held || recordings[0] || recordings[1];
  if (ticking && !timer.isActive()) timer.start();
  if (!ticking) timer.stop();
}

void StatusLine::Update() {
  if (linkHealth.Active()) {
    const KXLinkStats stats = protocol->GetLinkStats();
    const int64_t now = MonotonicMs();
    linkLine = linkHealth.Sample(stats, now);
    dock->AddLinkSample(stats, now);
  }
  Show();
}

void StatusLine::Show() {
  // The link's health and the hold stand last, where the eye finds them each second.
  QStringList parts{note};
  for (const auto& part : recordings)
    if (part) parts << part();
  if (linkHealth.Active()) parts << linkLine;
  if (held) parts << tr("画面已暂停");
  parts.removeAll(QString());
  if (parts.isEmpty())
    bar->clearMessage();
  else
    bar->showMessage(parts.join(QStringLiteral(" · ")));
}
