#include <pthread.h>

#include <QDebug>
#include <chrono>

#include "app/MainWindow.h"
#include "app/RecordingCommands.h"
#include "app/StatusLine.h"
#include "ui_MainWindow.h"

// The worker's side of the window: the loop that turns the protocol's points
// into frames, CSV rows, statistics and label texts.

namespace {

// Label texts produced by one worker pass; empty members are left alone.
struct LabelTexts {
  QString rpm;
  QString timestamp;
  QString distance;
  QString angle;
  QString intensity;

  bool operator==(const LabelTexts& o) const {
    return rpm == o.rpm && timestamp == o.timestamp && distance == o.distance && angle == o.angle &&
           intensity == o.intensity;
  }
};

// Speed and timestamp change with every packet, but nobody reads them faster
// than the frames come: between frames they are shown at most this often.
constexpr int64_t kLabelRefreshMs = 250;

}  // namespace

void MainWindow::runWorker() {
  pthread_setname_np(pthread_self(), "lds-worker");  // shows in top -H and debuggers
  FrameAssembler assembler(scanFilter);
  RevolutionStats revolutionStats;
  // What the labels show now; a repaint of the window is composed through
  // OpenGL, so texts that did not change are not sent again.
  LabelTexts shown;
  int64_t speedShownMs = 0;
  while (isRunning.load()) {
    if (feedGate.TakeFrameReset()) {
      // A new stream: the revolutions of the last one, all on their way to
      // the view before this call, leave its trail.
      QMetaObject::invokeMethod(
          ui->viewerWidget, [view = ui->viewerWidget] { view->StartTrailAnew(); }, Qt::QueuedConnection);
      emit signalScanFrame(assembler.Reset());
    }
    const bool warmUp = feedGate.WarmUp();  // taken on every pass: the replay waits for it
    const bool rows = csv.Active() && !warmUp;
    recording->FlushRaw();

    FrameAssembler::Result result = assembler.Step(protocol->TakeScanPoints(), CurrentSettings(), rows);

    LabelTexts texts;
    switch (result.outcome) {
      case FrameAssembler::Outcome::Dropped:
        qDebug() << "ERROR: abnormal angle found: " << result.endAngle;
        continue;  // no rows, no labels, no pause
      case FrameAssembler::Outcome::IdleTimeout:
        texts.rpm = QStringLiteral("0 r/min");
        texts.timestamp = QStringLiteral("-1 ms");
        break;
      case FrameAssembler::Outcome::Idle:
        break;
      case FrameAssembler::Outcome::Filed: {
        if (result.anomaly == FrameAssembler::Anomaly::AbnormalAngleChange) {
          qDebug() << "ERROR: abnormal angle change found: last pkg end at " << result.lastEndAngle
                   << " current pkg end at " << result.endAngle;
        }
        if (!result.csvRows.empty() && !csv.Write(result.csvRows))
          QMetaObject::invokeMethod(this, &MainWindow::OnCsvWriteFailed, Qt::QueuedConnection);
        const int64_t now = MonotonicMs();
        float speed = 0.0f;
        uint16_t stamp = 0;
        protocol->GetSpeedAndTimestamp(&speed, &stamp);
        for (const RevolutionFigures& figures : revolutionStats.Add(result, protocol->GetLinkStats(), speed, now))
          emit signalRevolutionStats(figures);
        const bool published = result.frameReady;
        if (published) emit signalScanFrame(std::move(result.frame));
        if (!published && now - speedShownMs < kLabelRefreshMs) break;
        speedShownMs = now;
        texts.rpm = QString::number(speed, 'g', 6) + QStringLiteral(" r/min");
        texts.timestamp = QString::number(stamp) + QStringLiteral(" ms");
        break;
      }
    }

    float distance = 0.0f;
    float angle = 0.0f;
    uint8_t intensity = 0;
    ui->viewerWidget->GetSelectedPoint(&distance, &angle, &intensity);
    texts.distance = QString::number(distance, 'g', 6) + QStringLiteral(" m");
    texts.angle = QString::number(angle, 'g', 6) + QStringLiteral(" \u00B0");
    texts.intensity = QString::number(intensity);
    if (texts.rpm.isEmpty()) texts.rpm = shown.rpm;
    if (texts.timestamp.isEmpty()) texts.timestamp = shown.timestamp;

    // Widgets belong to the GUI thread: the texts travel there in one queued
    // call and are applied in the fixed order.
    if (!(texts == shown)) {
      shown = texts;
      QMetaObject::invokeMethod(
          this,
          [this, texts]() {
            if (!texts.rpm.isEmpty()) ui->rpmLabel->setText(texts.rpm);
            if (!texts.timestamp.isEmpty()) ui->timestampLabel->setText(texts.timestamp);
            ui->selectDistLabel->setText(texts.distance);
            ui->selectAngleLabel->setText(texts.angle);
            ui->selectIntensityLabel->setText(texts.intensity);
          },
          Qt::QueuedConnection);
    }

    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}
