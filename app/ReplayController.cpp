#include "app/ReplayController.h"

#include <QAction>
#include <QActionGroup>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QToolBar>
#include <algorithm>

#include "protocol/KXProtocol.h"

namespace {

constexpr int kTickMs = 2;

}  // namespace

ReplayController::ReplayController(KXProtocol* protocol, QMainWindow* window, QMenu* fileMenu, QString* lastDir)
    : QObject(window), protocol(protocol), window(window), lastDir(lastDir) {
  QAction* openAction = fileMenu->addAction(tr("打开录制…"));
  openAction->setObjectName("actionOpenReplay");
  connect(openAction, &QAction::triggered, this, [this] {
    const QString path = QFileDialog::getOpenFileName(this->window, tr("打开录制"), *this->lastDir,
                                                      tr("原始数据 (*.raw);;所有文件 (*)"));
    if (path.isEmpty()) return;
    *this->lastDir = QFileInfo(path).absolutePath();
    Open(path);
  });
  closeAction = fileMenu->addAction(tr("关闭录制"));
  closeAction->setObjectName("actionCloseReplay");
  closeAction->setEnabled(false);
  connect(closeAction, &QAction::triggered, this, &ReplayController::Close);

  timer.setInterval(kTickMs);
  connect(&timer, &QTimer::timeout, this, &ReplayController::Tick);
}

bool ReplayController::Open(const QString& path) {
  std::string error;
  RawReplay opened;
  if (!opened.Open(path.toStdString(), error)) {
    QMessageBox::critical(window, tr("错误"),
                          tr("打开录制文件失败！") + "\n" + path + "\n" + QString::fromStdString(error));
    return false;
  }
  Close();
  emit aboutToOpen();
  reader = std::move(opened);
  open = true;
  closeAction->setEnabled(true);

  bar = new QToolBar(tr("回放"), window);
  bar->setObjectName("replayBar");
  bar->setMovable(false);
  playAction = bar->addAction(tr("播放"));
  playAction->setObjectName("actionReplayPlay");
  playAction->setCheckable(true);
  connect(playAction, &QAction::toggled, this, &ReplayController::SetPlaying);
  QAction* step = bar->addAction(tr("下一圈"));
  step->setObjectName("actionReplayStep");
  connect(step, &QAction::triggered, this, [this] {
    playAction->setChecked(false);
    reader.PlayRevolution(*protocol);
    ShowPosition();
  });
  QAction* rewind = bar->addAction(tr("回到开头"));
  rewind->setObjectName("actionReplayRewind");
  connect(rewind, &QAction::triggered, this, &ReplayController::Restart);
  bar->addSeparator();
  auto* speed = new QActionGroup(bar);
  QAction* paced = bar->addAction(tr("原速"));
  fastAction = bar->addAction(tr("最快"));
  fastAction->setObjectName("actionReplayFast");
  for (QAction* a : {paced, fastAction}) {
    a->setCheckable(true);
    speed->addAction(a);
  }
  paced->setChecked(true);
  // Switching to the recorded pace goes on from where the replay is.
  connect(paced, &QAction::toggled, this, [this](bool on) {
    if (on && Playing()) SetPlaying(true);
  });
  bar->addSeparator();
  position = new QLabel(bar);
  position->setObjectName("replayPosition");
  bar->addWidget(position);
  bar->addAction(closeAction);
  window->addToolBar(Qt::TopToolBarArea, bar);
  bar->show();

  Restart();
  playAction->setChecked(true);
  return true;
}

void ReplayController::Close() {
  if (!open) return;
  timer.stop();
  open = false;
  closeAction->setEnabled(false);
  // The close entry lives in the menu too: take it off the bar before the bar goes.
  bar->removeAction(closeAction);
  // It may be its own button that closes it: it goes once that click is done.
  window->removeToolBar(bar);
  bar->deleteLater();
  bar = nullptr;
  playAction = fastAction = nullptr;
  position = nullptr;
  reader = RawReplay();
  emit closed();
}

void ReplayController::Restart() {
  reader.Rewind();
  protocol->ResetReceiver();
  emit restarted();
  if (Playing()) SetPlaying(true);
  ShowPosition();
}

void ReplayController::SetPlaying(bool play) {
  if (!play) {
    timer.stop();
  } else {
    // At the end, play starts over.
    if (reader.AtEnd()) Restart();
    clockBaseMs = reader.TimeMs();
    clock.start();
    timer.start();
  }
  if (playAction) {
    const QSignalBlocker block(playAction);
    playAction->setChecked(play);
    playAction->setText(play ? tr("暂停") : tr("播放"));
  }
}

void ReplayController::Tick() {
  // The worker files each batch it takes from the decoder as one step, and
  // sees a revolution end only in a batch of less than half a turn. So bytes
  // go only once it has taken the last ones, at most two fifths of a turn.
  if (protocol->QueuedPoints() > 0) return;
  size_t budget = std::max<size_t>(1, reader.PacketsPerRevolution() * 2 / 5);
  if (!fastAction->isChecked() && reader.Packets() > 0) {
    // At the recorded pace: only the packets whose time has come.
    const int64_t now = clockBaseMs + clock.elapsed();
    size_t due = 0;
    for (; due < budget && reader.NextTimeMs(due) >= 0 && reader.NextTimeMs(due) <= now;) ++due;
    budget = due;
  }
  if (budget > 0) reader.PlayPackets(budget, *protocol);
  if (reader.AtEnd()) SetPlaying(false);
  ShowPosition();
}

QString ReplayController::Position() const {
  return tr("第 %1 / %2 圈 · %3 s")
      .arg(reader.Revolution())
      .arg(reader.Revolutions())
      .arg(static_cast<double>(reader.TimeMs()) / 1000.0, 0, 'f', 1);
}

void ReplayController::ShowPosition() {
  if (position) position->setText(Position() + (reader.AtEnd() ? tr(" · 结束") : QString()));
}
