#include "app/MainWindow.h"

#include <pthread.h>

#include <QApplication>
#include <QDebug>
#include <QDesktopWidget>
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QMetaType>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QStringList>
#include <QTimer>
#include <chrono>

#include "app/Language.h"
#include "app/RecordingCommands.h"
#include "app/StatusLine.h"
#include "app/ViewCommands.h"
#include "ui_MainWindow.h"

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

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui(new Ui_MainWindow) {
  ui->setupUi(this);
  // The labels that change with every revolution keep the size of their
  // widest text. A label whose text changes width makes the window lay itself
  // out again, measuring every text in it, ten times a second.
  const auto keepSize = [](QLabel* label, const QString& widest) {
    const QString shown = label->text();
    label->setText(widest);
    label->setFixedSize(label->sizeHint());
    label->setText(shown);
    label->parentWidget()->layout()->setAlignment(label, Qt::AlignLeft | Qt::AlignVCenter);
  };
  keepSize(ui->rpmLabel, QStringLiteral("00000.0 r/min"));
  keepSize(ui->timestampLabel, QStringLiteral("00000 ms"));
  AddLanguageMenu(ui->menu, ui->statusbar);
  qRegisterMetaType<std::vector<KXScanPoint>>("std::vector<KXScanPoint>");
  protocol = new KXProtocol();
  // About 1 s at the highest line rate, so a briefly starved worker loses no points.
  protocol->SetQueueLimit(12000);
  on_refreshPortButton_clicked();
  connect(this, &MainWindow::signalScanFrame, ui->viewerWidget, &vtkViewer::slotShowDeviceData);

  qRegisterMetaType<RevolutionFigures>("RevolutionFigures");
  diagnosisDock = new DiagnosisDock(this);
  addDockWidget(Qt::RightDockWidgetArea, diagnosisDock);
  diagnosisDock->hide();
  connect(this, &MainWindow::signalRevolutionStats, diagnosisDock, &DiagnosisDock::AddRevolution, Qt::QueuedConnection);
  connect(ui->actionDiagnosis, &QAction::toggled, this, [this](bool on) {
    // The plots take room beside the view rather than from it, as far as the screen allows.
    const QRect screen = QApplication::desktop()->availableGeometry(this);
    if (on && !isMaximized() && !diagnosisDock->isVisible())
      resize(std::min(width() + diagnosisDock->minimumWidth(), screen.width()),
             std::max(height(), std::min(760, screen.height())));
    diagnosisDock->setVisible(on);
  });
  // The dock's own close button unchecks the menu entry.
  connect(diagnosisDock->toggleViewAction(), &QAction::toggled, ui->actionDiagnosis, &QAction::setChecked);
  status = new StatusLine(protocol, ui->statusbar, diagnosisDock, this);

  auto* view = new ViewCommands(this, ui->menu, ui->menu_2, ui->actionAngleOffset, ui->viewerWidget, diagnosisDock,
                                status, &saveDir);
  connect(view, &ViewCommands::settingsChanged, this, &MainWindow::SaveSettings);
  connect(view, &ViewCommands::restoreDefaults, this, [this] {
    ApplySettings(AppSettings::Defaults());
    SaveSettings();
  });
  // Each change is saved once its command's own slot has made it.
  for (QAction* a :
       {ui->actionSetPointSize, ui->actionSaveDataCSV, ui->actionAngleOffset, ui->actionEnableAngleCalib,
        ui->actionAlgoFilter, ui->actionEnableDistCorrect, ui->actionEnableAngleEdgeFilter,
        ui->actionEnableWaterNoiseFilter, ui->actionSetDiffThr, ui->actionFilterMinRange, ui->actionFilterMaxRange,
        ui->actionFilterIntnesityThr, ui->clockwiseRotationAction, ui->counterClockwiseRotationAction})
    connect(a, &QAction::triggered, this, &MainWindow::SaveSettings);
  connect(ui->connectButton, &QPushButton::clicked, this, &MainWindow::SaveSettings);

  recording = new RecordingCommands(protocol, &frameResetPending, ui->viewerWidget, diagnosisDock, this, ui->menu_2,
                                    status, &saveDir);
  connect(recording, &RecordingCommands::settingsChanged, this, &MainWindow::SaveSettings);
  connect(recording, &RecordingCommands::replayOpening, this, [this] {
    if (ui->connectButton->text() == tr("断开")) on_connectButton_clicked();
  });
  connect(recording, &RecordingCommands::replayRestarted, this, [this] { frameResetPending.store(true); });
  ApplySettings(AppSettings::Load());

  // Started last, once everything the worker reaches exists.
  isRunning.exchange(true);
  workerThread = new std::thread(&MainWindow::runWorker, this);
}

MainWindow::~MainWindow() {
  isRunning.exchange(false);
  // The worker reads the form, the protocol, the recordings and the filter:
  // it must be gone before any of them is released.
  if (workerThread) {
    workerThread->join();
    delete workerThread;
    workerThread = nullptr;
  }
  recording->FinishRaw();
  SaveSettings();
  // The dock hides as the window's widgets go, and its toggle would reach
  // back into this window after its destructor has run.
  disconnect(diagnosisDock->toggleViewAction(), nullptr, nullptr, nullptr);
  disconnect(ui->actionDiagnosis, nullptr, this, nullptr);
  delete ui;
  ui = nullptr;
  if (protocol->IsConnected() && sensorStarted) protocol->DisableLidar();
  if (protocol->IsConnected()) protocol->Disconnect();
  delete protocol;
  protocol = nullptr;
}

ScanSettings MainWindow::CurrentSettings() const { return scan.Load(); }

// ---------------------------------------------------------------------------
// Worker

void MainWindow::runWorker() {
  pthread_setname_np(pthread_self(), "lds-worker");  // shows in top -H and debuggers
  FrameAssembler assembler(scanFilter);
  RevolutionStats revolutionStats;
  // What the labels show now; a repaint of the window is composed through
  // OpenGL, so texts that did not change are not sent again.
  LabelTexts shown;
  int64_t speedShownMs = 0;
  while (isRunning.load()) {
    if (frameResetPending.exchange(false)) emit signalScanFrame(assembler.Reset());
    recording->FlushRaw();

    FrameAssembler::Result result = assembler.Step(protocol->TakeScanPoints(), CurrentSettings(), csv.Active());

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

void MainWindow::OnCsvWriteFailed() {
  // The operator may have started a new recording meanwhile; its text stays.
  if (!csv.Active()) ui->actionSaveDataCSV->setText(tr("保存.csv"));
  QMessageBox::critical(this, tr("错误"), tr("写入保存文件失败！"));
}

// ---------------------------------------------------------------------------
// Settings

WindowSettings MainWindow::GatherSettings() const {
  WindowSettings s;
  s.port = ui->serialPortBox->currentText();
  s.baud = ui->baudrateBox->currentText().toInt();
  s.pointSize = ui->viewerWidget->pointSize;
  s.rotationSign = ui->viewerWidget->rotationSign;
  s.trails = ui->viewerWidget->TrailLength();
  s.scan = CurrentSettings();
  protocol->GetAngleOffset(&s.angleOffset);
  s.saveDir = saveDir;
  return s;
}

void MainWindow::ApplySettings(const WindowSettings& s) {
  ui->serialPortBox->setCurrentText(s.port.isEmpty() ? ui->serialPortBox->itemText(0) : s.port);
  ui->baudrateBox->setCurrentText(QString::number(s.baud));
  ui->viewerWidget->SetPointSize(s.pointSize);
  ui->viewerWidget->SetTrailLength(s.trails);
  if (s.rotationSign < 0)
    on_clockwiseRotationAction_triggered();
  else
    on_counterClockwiseRotationAction_triggered();
  protocol->SetAngleOffset(s.angleOffset);
  ui->actionEnableAngleCalib->setChecked(s.scan.enableAngleCalib);
  ui->actionAlgoFilter->setChecked(s.scan.enableAlgoFilter);
  ui->actionEnableDistCorrect->setChecked(s.scan.enableDistCorrect);
  ui->actionEnableAngleEdgeFilter->setChecked(s.scan.enableAngleEdgeFilter);
  ui->actionEnableWaterNoiseFilter->setChecked(s.scan.enableWaterNoiseFilter);
  scan.Store(s.scan);
  saveDir = s.saveDir;
}

void MainWindow::SaveSettings() {
  if (!AppSettings::Save(GatherSettings())) qWarning("lds-tool: the settings could not be saved");
}

// ---------------------------------------------------------------------------
// Commands

void MainWindow::UsePort(const QString& port, int baud, bool connect) {
  ui->serialPortBox->setCurrentText(port);
  if (baud > 0) ui->baudrateBox->setCurrentText(QString::number(baud));
  if (connect) QTimer::singleShot(0, ui->connectButton, &QPushButton::click);
}

void MainWindow::ShowDiagnosis(bool show) { ui->actionDiagnosis->setChecked(show); }

void MainWindow::on_refreshPortButton_clicked() {
  // Full device paths, so that a listed port can be opened as it stands.
  QStringList names;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) names << info.systemLocation();
  ui->serialPortBox->clear();
  ui->serialPortBox->addItems(names);
}

void MainWindow::on_connectButton_clicked() {
  if (ui->connectButton->text() == tr("连接")) {
    recording->CloseReplay();  // the live link takes over from a recording
    const unsigned baud = ui->baudrateBox->currentText().toUInt();
    const std::string port = ui->serialPortBox->currentText().toStdString();
    if (!protocol->Connect(port, static_cast<int>(baud))) {
      QMessageBox::warning(this, tr("错误"), tr("连接设备失败！"));
      return;
    }
    frameResetPending.store(true);
    ui->connectButton->setText(tr("断开"));
    recording->LinkOpened();
    ui->serialPortBox->setEnabled(false);
    ui->baudrateBox->setEnabled(false);
    ui->refreshPortButton->setEnabled(false);
    status->LinkStarted();
  } else {
    protocol->Disconnect();
    recording->LinkClosed();
    sensorStarted = false;
    ui->connectButton->setText(tr("连接"));
    ui->serialPortBox->setEnabled(true);
    ui->baudrateBox->setEnabled(true);
    ui->refreshPortButton->setEnabled(true);
    status->LinkEnded();
  }
}

void MainWindow::on_enableLidarButton_clicked() {
  if (protocol->EnableLidar()) {
    sensorStarted = true;
    QMessageBox::information(this, tr("成功"), tr("启动成功！"));
  } else {
    QMessageBox::warning(this, tr("错误"), tr("启动失败！"));
  }
}

void MainWindow::on_disableLidarButton_clicked() {
  if (protocol->DisableLidar()) {
    sensorStarted = false;
    QMessageBox::information(this, tr("成功"), tr("停止成功！"));
  } else {
    QMessageBox::warning(this, tr("错误"), tr("停止失败！"));
  }
}

void MainWindow::on_actionSaveDataCSV_triggered() {
  if (ui->actionSaveDataCSV->text() == tr("停止保存.csv")) {
    csv.Stop();
    ui->actionSaveDataCSV->setText(tr("保存.csv"));
    return;
  }

  const QString fileName = QFileDialog::getSaveFileName(this, tr("Save File"), saveDir, tr("CSV File (*.csv)"));
  if (fileName.isEmpty()) {
    QMessageBox::information(this, tr("提示"), tr("未选择保存路径！"));
    return;
  }
  saveDir = fileName.left(fileName.lastIndexOf('/'));
  QDir dir(saveDir);
  if (!dir.exists()) dir.mkdir(saveDir);

  switch (csv.Start(fileName)) {
    case CsvRecorder::Outcome::Recording:
      ui->actionSaveDataCSV->setText(tr("停止保存.csv"));
      break;
    case CsvRecorder::Outcome::OpenFailed:
      QMessageBox::critical(this, tr("错误"), tr("打开保存文件失败！"));
      break;
    case CsvRecorder::Outcome::HeaderFailed:
      QMessageBox::critical(this, tr("错误"), tr("写入保存文件失败！"));
      break;
  }
}

void MainWindow::on_actionAngleOffset_triggered() {
  float offset = 0.0f;
  protocol->GetAngleOffset(&offset);
  bool ok = false;
  const double value = QInputDialog::getDouble(this, tr("设置角度偏移"), tr("offset(°)"), offset, -360, 360, 2, &ok);
  if (ok) protocol->SetAngleOffset(static_cast<float>(value));
}

void MainWindow::on_actionSetDiffThr_triggered() {
  bool ok = false;
  const double value =
      QInputDialog::getDouble(this, tr("设置距离差极值阈值"), tr("Value"), scan.diffThr.load(), 0, 10000, 2, &ok);
  if (ok) scan.diffThr.store(value);
}

void MainWindow::on_actionFilterMinRange_triggered() {
  bool ok = false;
  const double value = QInputDialog::getDouble(this, tr("设置滤波距离最小值"), tr("Value"), scan.filterMinRange.load(),
                                               0, 10000, 2, &ok);
  if (ok) scan.filterMinRange.store(static_cast<int32_t>(value));
}

void MainWindow::on_actionFilterMaxRange_triggered() {
  bool ok = false;
  const double value = QInputDialog::getDouble(this, tr("设置滤波距离最大值"), tr("Value"), scan.filterMaxRange.load(),
                                               0, 10000, 2, &ok);
  if (ok) scan.filterMaxRange.store(static_cast<int32_t>(value));
}

void MainWindow::on_actionFilterIntnesityThr_triggered() {
  bool ok = false;
  const double value = QInputDialog::getDouble(this, tr("设置滤波信号阈值"), tr("Value"),
                                               scan.filterIntensityThr.load(), 0, 10000, 2, &ok);
  if (ok) scan.filterIntensityThr.store(static_cast<int32_t>(value));
}

void MainWindow::on_actionSetPointSize_triggered() {
  QInputDialog dialog(this);
  dialog.setInputMode(QInputDialog::IntInput);
  dialog.setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);
  dialog.setWindowTitle(tr("设置点云尺寸"));
  dialog.setLabelText(tr("尺寸"));
  dialog.setOkButtonText(QObject::tr("确定"));
  dialog.setCancelButtonText(QObject::tr("取消"));
  dialog.setIntRange(1, 10);
  dialog.setIntStep(1);
  dialog.setIntValue(ui->viewerWidget->pointSize);
  if (dialog.exec() == QDialog::Accepted) ui->viewerWidget->SetPointSize(dialog.intValue());
}

void MainWindow::on_actionEnableAngleCalib_triggered() {
  scan.enableAngleCalib.store(ui->actionEnableAngleCalib->isChecked());
}

void MainWindow::on_actionAlgoFilter_triggered() { scan.enableAlgoFilter.store(ui->actionAlgoFilter->isChecked()); }

void MainWindow::on_actionEnableDistCorrect_triggered() {
  scan.enableDistCorrect.store(ui->actionEnableDistCorrect->isChecked());
}

void MainWindow::on_actionEnableAngleEdgeFilter_triggered() {
  scan.enableAngleEdgeFilter.store(ui->actionEnableAngleEdgeFilter->isChecked());
}

void MainWindow::on_actionEnableWaterNoiseFilter_triggered() {
  scan.enableWaterNoiseFilter.store(ui->actionEnableWaterNoiseFilter->isChecked());
}

void MainWindow::on_clockwiseRotationAction_triggered() {
  ui->clockwiseRotationAction->setChecked(true);
  ui->counterClockwiseRotationAction->setChecked(false);
  ui->viewerWidget->SetRotationSign(-1);
}

void MainWindow::on_counterClockwiseRotationAction_triggered() {
  ui->clockwiseRotationAction->setChecked(false);
  ui->counterClockwiseRotationAction->setChecked(true);
  ui->viewerWidget->SetRotationSign(1);
}
