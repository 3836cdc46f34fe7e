#include "app/ReplayController.h"

#include <QAction>
#include <QActionGroup>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QSlider>
#include <QToolBar>

#include "app/FeedGate.h"
#include "app/StatusLine.h"
#include "protocol/KXProtocol.h"

namespace {

constexpr int kTickMs = 2;

}  // namespace

ReplayController::ReplayController(KXProtocol* protocol, FeedGate* gate, QMainWindow* window, QMenu* fileMenu,
                                   StatusLine* status, QString* lastDir)
    : QObject(window), protocol(protocol), gate(gate), window(window), status(status), lastDir(lastDir) {
  QAction* openAction = fileMenu->addAction(tr("打开录制…"));
  openAction->setObjectName("actionOpenReplay");
  connect(openAction, &QAction::triggered, this, [this] {
    QFileDialog dialog(this->window, tr("打开录制"), *this->lastDir, tr("原始数据 (*.raw);;所有文件 (*)"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // Any name is taken: one typed without its ".raw" is found below, and a
    // missing file is reported with the system's reason.
    dialog.setFileMode(QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    const QString path = RecordingPath(dialog.selectedFiles().first());
    *this->lastDir = QFileInfo(path).absolutePath();
    Open(path);
  });
  closeAction = fileMenu->addAction(tr("关闭录制"));
  closeAction->setObjectName("actionCloseReplay");
  closeAction->setEnabled(false);
  connect(closeAction, &QAction::triggered, this, &ReplayController::Close);

  timer.setInterval(kTickMs);
  connect(&timer, &QTimer::timeout, this, &ReplayController::Tick);
  clock.start();
}

QString ReplayController::RecordingPath(const QString& typed) {
  const QFileInfo info(typed);
  return info.exists() || info.fileName().contains('.') ? typed : typed + ".raw";
}

ReplayController::~ReplayController() {
  if (loader.joinable()) loader.join();
}

void ReplayController::Open(const QString& path) {
  if (loading) return;
  if (loader.joinable()) loader.join();  // done with the last file
  loading = true;
  status->SetNote(tr("正在读取 %1…").arg(path));
  // Up to 512 MiB to read and index: the window goes on meanwhile.
  loader = std::thread([this, path] {
    auto opened = std::make_shared<ReplayCursor>();
    std::string error;
    if (!opened->Open(path.toStdString(), error)) opened.reset();
    QMetaObject::invokeMethod(
        this, [this, path, opened, error] { Opened(path, opened, QString::fromStdString(error)); },
        Qt::QueuedConnection);
  });
}

void ReplayController::Opened(const QString& path, const std::shared_ptr<ReplayCursor>& opened, const QString& error) {
  loading = false;
  if (!opened) {
    status->SetNote(tr("无法打开 %1：%2").arg(path, error));
    QMessageBox::critical(window, tr("错误"), tr("打开录制文件失败！") + "\n" + path + "\n" + error);
    return;
  }
  status->SetNote(QString());
  Close();
  emit aboutToOpen(path);
  cursor = std::move(*opened);
  float offset = 0.0f;
  protocol->GetAngleOffset(&offset);
  cursor.SetAngleOffset(offset);
  open = true;
  closeAction->setEnabled(true);

  bar = new QToolBar(tr("回放"), window);
  bar->setObjectName("replayBar");
  bar->setMovable(false);
  auto* name = new QLabel(QFileInfo(path).fileName() + "  ", bar);
  name->setObjectName("replayFile");
  name->setToolTip(QFileInfo(path).absoluteFilePath());
  bar->addWidget(name);
  playAction = bar->addAction(tr("播放"));
  playAction->setObjectName("actionReplayPlay");
  playAction->setCheckable(true);
  connect(playAction, &QAction::toggled, this, &ReplayController::SetPlaying);
  QAction* back = bar->addAction(tr("上一圈"));
  back->setObjectName("actionReplayBack");
  QAction* step = bar->addAction(tr("下一圈"));
  step->setObjectName("actionReplayStep");
  for (auto [action, by] : {std::pair{back, -1}, std::pair{step, 1}}) {
    connect(action, &QAction::triggered, this, [this, by = by] {
      SetPlaying(false);
      Seek(cursor.Revolution() + by);
    });
  }
  QAction* rewind = bar->addAction(tr("回到开头"));
  rewind->setObjectName("actionReplayRewind");
  connect(rewind, &QAction::triggered, this, [this] {
    const bool playing = Playing();
    Restart();
    if (playing) SetPlaying(true);
  });
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
  // A change of speed goes on from where the replay is.
  connect(fastAction, &QAction::toggled, this, [this](bool fast) {
    if (Playing()) cursor.Play(fast, NowMs());
  });
  bar->addSeparator();
  slider = new QSlider(Qt::Horizontal, bar);
  slider->setObjectName("replaySlider");
  slider->setRange(0, cursor.Revolutions());
  slider->setEnabled(cursor.Revolutions() > 0);
  slider->setMinimumWidth(160);
  slider->setToolTip(tr("拖动到某一圈"));
  // A click on the groove or a key jumps at once; a drag jumps where it is let go.
  connect(slider, &QSlider::valueChanged, this, [this](int k) {
    if (!slider->isSliderDown()) Seek(k);
  });
  connect(slider, &QSlider::sliderReleased, this, [this] { Seek(slider->value()); });
  bar->addWidget(slider);
  position = new QLabel(bar);
  position->setObjectName("replayPosition");
  bar->addWidget(position);
  bar->addAction(closeAction);
  window->addToolBar(Qt::TopToolBarArea, bar);
  bar->show();

  Restart();
  playAction->setChecked(true);
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
  slider = nullptr;
  position = nullptr;
  cursor = ReplayCursor();
  gate->SetWarmUp(false);  // the live link's rows are all the user's
  emit closed();
}

void ReplayController::Restart() {
  cursor.Rewind();
  Restarted();
  ShowPosition();
}

void ReplayController::Seek(int k) {
  if (!open) return;
  if (cursor.SeekTo(k)) Restarted();
  timer.start();
  ShowPosition();
}

void ReplayController::Restarted() {
  protocol->ResetReceiver();
  gate->ResetFrame();
  emit restarted();
  timer.start();
}

void ReplayController::AngleOffsetChanged() {
  if (!open) return;
  float offset = 0.0f;
  protocol->GetAngleOffset(&offset);
  cursor.SetAngleOffset(offset);
  const QSignalBlocker block(slider);
  slider->setRange(0, cursor.Revolutions());
  ShowPosition();
}

void ReplayController::SetPlaying(bool play) {
  if (!play) {
    cursor.Pause();
  } else {
    // At the end, play starts over.
    if (cursor.AtEnd()) Restart();
    cursor.Play(fastAction->isChecked(), NowMs());
    timer.start();
  }
  if (playAction) {
    const QSignalBlocker block(playAction);
    playAction->setChecked(play);
    playAction->setText(play ? tr("暂停") : tr("播放"));
  }
}

void ReplayController::Tick() {
  // Bytes go only once the worker has taken every point fed before (see
  // ReplayCursor) and has done what it was asked: reset its frame after a
  // restart, begun or ended a jump's warm-up.
  if (!gate->Settled() || protocol->QueuedPoints() > 0) return;
  if (cursor.WarmingUp() != gate->WarmUpAsked()) {
    gate->SetWarmUp(cursor.WarmingUp());
    return;
  }
  cursor.Feed(*protocol, NowMs());
  if (!cursor.Busy()) {
    timer.stop();
    if (playAction && playAction->isChecked()) SetPlaying(false);
  }
  ShowPosition();
}

QString ReplayController::Position() const {
  if (cursor.Packets() == 0) return tr("文件中没有数据包");
  return tr("第 %1 / %2 圈 · %3 s")
      .arg(cursor.Revolution())
      .arg(cursor.Revolutions())
      .arg(static_cast<double>(cursor.TimeMs()) / 1000.0, 0, 'f', 1);
}

void ReplayController::ShowPosition() {
  if (!position) return;
  position->setText(Position() + (cursor.AtEnd() ? tr(" · 结束") : QString()));
  if (!slider->isSliderDown()) {
    const QSignalBlocker block(slider);
    slider->setValue(cursor.Revolution());
  }
}
