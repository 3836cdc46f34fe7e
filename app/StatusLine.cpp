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
  timer.start();
}

void StatusLine::LinkEnded() {
  if (!held) timer.stop();
  linkHealth.Stop();
  Show();
}

void StatusLine::SetHeld(bool on) {
  held = on;
  if (held) timer.start();
  if (!held && !linkHealth.Active()) timer.stop();
  Show();
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
  QStringList parts;
  if (linkHealth.Active()) parts << linkLine;
  if (held) parts << tr("画面已暂停");
  parts.removeAll(QString());
  if (parts.isEmpty())
    bar->clearMessage();
  else
    bar->showMessage(parts.join(QStringLiteral(" · ")));
}
