#include "app/MainWindow.h"

#include <QApplication>
#include <QDebug>
#include <QDesktopWidget>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QMetaType>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QStringList>
#include <QTimer>
#include <chrono>

#include "app/Language.h"
#include "app/LinkControl.h"
#include "app/RecordingCommands.h"
#include "app/StatusLine.h"
#include "app/ViewCommands.h"
#include "ui_MainWindow.h"

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
  qRegisterMetaType<std::vector<KXScanPoint>>("std::vector<KXScanPoint>");
  protocol = new KXProtocol();
  // About 1 s at the highest line rate, so a briefly starved worker loses no points.
  protocol->SetQueueLimit(12000);
  link = new LinkControl(protocol, this);
  connect(link, &LinkControl::connected, this, &MainWindow::OnConnected);
  connect(link, &LinkControl::failed, this, &MainWindow::OnConnectFailed);
  connect(link, &LinkControl::lost, this, &MainWindow::OnLinkLost);
  connect(link, &LinkControl::commandDone, this, &MainWindow::OnCommandDone);
  on_refreshPortButton_clicked();
  // A network address is longer than the box: hovering shows it whole.
  connect(ui->serialPortBox, &QComboBox::currentTextChanged, ui->serialPortBox, &QWidget::setToolTip);
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
  AddLanguageMenu(ui->menu, status);

  auto* view = new ViewCommands(this, ui->menu, ui->menu_2, ui->actionAngleOffset, ui->viewerWidget, diagnosisDock,
                                status, &saveDir);
  connect(view, &ViewCommands::settingsChanged, this, &MainWindow::SaveSettings);
  connect(view, &ViewCommands::restoreDefaults, this, &MainWindow::RestoreDefaults);
  // Each change is saved once its command's own slot has made it.
  for (QAction* a :
       {ui->actionSetPointSize, ui->actionSaveDataCSV, ui->actionAngleOffset, ui->actionEnableAngleCalib,
        ui->actionAlgoFilter, ui->actionEnableDistCorrect, ui->actionEnableAngleEdgeFilter,
        ui->actionEnableWaterNoiseFilter, ui->actionSetDiffThr, ui->actionFilterMinRange, ui->actionFilterMaxRange,
        ui->actionFilterIntnesityThr, ui->clockwiseRotationAction, ui->counterClockwiseRotationAction})
    connect(a, &QAction::triggered, this, &MainWindow::SaveSettings);
  connect(ui->connectButton, &QPushButton::clicked, this, &MainWindow::SaveSettings);

  recording = new RecordingCommands(protocol, &feedGate, diagnosisDock, this, ui->menu_2, status, &saveDir);
  connect(recording, &RecordingCommands::settingsChanged, this, &MainWindow::SaveSettings);
  connect(recording, &RecordingCommands::replayOpening, this, [this] {
    if (link->Current() == LinkControl::State::Connected) on_connectButton_clicked();
  });
  ApplySettings(AppSettings::Load());

  // Started last, once everything the worker reaches exists.
  isRunning.exchange(true);
  workerThread = new std::thread(&MainWindow::runWorker, this);
}

MainWindow::~MainWindow() {
  // A connect or command under way ends first (at most its timeout): what it
  // opens is closed below, and a sensor it started is stopped.
  link->Settle();
  const bool stopSensor = link->SensorStarted();
  delete link;
  link = nullptr;
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
  if (protocol->IsConnected() && stopSensor) protocol->DisableLidar();
  if (protocol->IsConnected()) protocol->Disconnect();
  delete protocol;
  protocol = nullptr;
}

ScanSettings MainWindow::CurrentSettings() const { return scan.Load(); }

void MainWindow::OnCsvWriteFailed() {
  // The operator may have started a new recording meanwhile; its text stays.
  if (!csv.Active()) {
    ui->actionSaveDataCSV->setText(tr("保存.csv"));
    status->SetRecording(StatusLine::Recording::Csv, nullptr);
    status->SetNote(tr("写入 %1 失败：%2 · 已写入 %3 行").arg(csvName, csv.Error()).arg(csv.Rows()));
  }
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
  recording->AngleOffsetChanged();
  ui->actionEnableAngleCalib->setChecked(s.scan.enableAngleCalib);
  ui->actionAlgoFilter->setChecked(s.scan.enableAlgoFilter);
  ui->actionEnableDistCorrect->setChecked(s.scan.enableDistCorrect);
  ui->actionEnableAngleEdgeFilter->setChecked(s.scan.enableAngleEdgeFilter);
  ui->actionEnableWaterNoiseFilter->setChecked(s.scan.enableWaterNoiseFilter);
  scan.Store(s.scan);
  saveDir = s.saveDir;
}

void MainWindow::SaveSettings() {
  QString error;
  if (AppSettings::Save(GatherSettings(), &error)) return;
  // The old file stays as it was; the next change, or closing, tries again.
  const QString file = AppSettings::FileName();
  qWarning("lds-tool: the settings could not be saved to %s: %s", qPrintable(file), qPrintable(error));
  status->SetNote(tr("无法保存设置 %1：%2").arg(file, error));
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
  if (link->Current() == LinkControl::State::Connected) {
    link->Stop();
    QStringList note{tr("已断开 %1").arg(link->Port()), recording->LinkClosed()};
    ShowLinkState();
    status->LinkEnded();
    note.removeAll(QString());
    status->SetNote(note.join(QStringLiteral(" · ")));
    return;
  }
  if (link->Current() == LinkControl::State::Connecting) return;  // the button is disabled meanwhile
  recording->CloseReplay();                                       // the live link takes over from a recording
  const QString port = ui->serialPortBox->currentText();
  QString invalid;
  if (!link->Start(port, static_cast<int>(ui->baudrateBox->currentText().toUInt()), &invalid)) {
    OnConnectFailed(invalid);
    return;
  }
  ShowLinkState();
  status->SetNote(tr("正在连接 %1…").arg(port));
}

void MainWindow::ShowLinkState() {
  const LinkControl::State state = link->Current();
  const bool commanding = state == LinkControl::State::Connected && link->Busy();
  ui->connectButton->setText(state == LinkControl::State::Connected ? tr("断开") : tr("连接"));
  ui->connectButton->setEnabled(!link->Busy());
  ui->enableLidarButton->setEnabled(!commanding);
  ui->disableLidarButton->setEnabled(!commanding);
  for (QWidget* w : std::initializer_list<QWidget*>{ui->serialPortBox, ui->baudrateBox, ui->refreshPortButton})
    w->setEnabled(state == LinkControl::State::Disconnected);
  // A replay would feed the protocol object while the attempt or the command uses it.
  if (auto* openReplay = findChild<QAction*>("actionOpenReplay")) openReplay->setEnabled(!link->Busy());
}

void MainWindow::OnConnected() {
  feedGate.ResetFrame();
  recording->LinkOpened(link->Port());
  ShowLinkState();
  status->SetNote(QString());
  status->LinkStarted();
}

void MainWindow::OnConnectFailed(const QString& reason) {
  ShowLinkState();
  status->SetNote(tr("连接 %1 失败：%2").arg(ui->serialPortBox->currentText(), reason));
  QMessageBox box(QMessageBox::Warning, tr("错误"), tr("连接设备失败！"), QMessageBox::Ok, this);
  box.setInformativeText(reason);
  box.exec();
}

void MainWindow::OnLinkLost(const QString& reason) {
  // The recordings end with the link, keeping every row and byte written so far.
  QStringList note{tr("与 %1 的连接已断开：%2").arg(link->Port(), reason)};
  if (csv.Active()) note << StopCsv();
  note << recording->LinkClosed();
  ShowLinkState();
  status->LinkEnded();
  note.removeAll(QString());
  status->SetNote(note.join(QStringLiteral(" · ")));
}

bool MainWindow::RefusedWhileConnecting(const QString& failure) {
  if (link->Current() != LinkControl::State::Connecting) return false;
  QMessageBox box(QMessageBox::Warning, tr("错误"), failure, QMessageBox::Ok, this);
  box.setInformativeText(tr("正在连接 %1，请等连接完成。").arg(link->Port()));
  box.exec();
  return true;
}

void MainWindow::on_enableLidarButton_clicked() { SendCommand(LinkControl::Command::Start); }

void MainWindow::on_disableLidarButton_clicked() { SendCommand(LinkControl::Command::Stop); }

void MainWindow::SendCommand(LinkControl::Command command) {
  const bool start = command == LinkControl::Command::Start;
  const QString failure = start ? tr("启动失败！") : tr("停止失败！");
  if (RefusedWhileConnecting(failure)) return;
  if (!link->Send(command)) {  // no link open
    QMessageBox::warning(this, tr("错误"), failure);
    return;
  }
  ShowLinkState();
  status->SetNote(start ? tr("正在启动…") : tr("正在停止…"));
}

void MainWindow::OnCommandDone(LinkControl::Command command, bool ok) {
  const bool start = command == LinkControl::Command::Start;
  ShowLinkState();
  if (ok) {
    status->SetNote(start ? tr("传感器已启动") : tr("传感器已停止"));
    QMessageBox::information(this, tr("成功"), start ? tr("启动成功！") : tr("停止成功！"));
  } else {
    status->SetNote(start ? tr("启动失败：传感器没有应答") : tr("停止失败：传感器没有应答"));
    QMessageBox::warning(this, tr("错误"), start ? tr("启动失败！") : tr("停止失败！"));
  }
}

void MainWindow::RestoreDefaults() {
  const bool linked = link->Current() != LinkControl::State::Disconnected;
  QMessageBox box(QMessageBox::Question, tr("恢复默认设置"), tr("把语言以外的所有设置恢复为首次启动时的状态？"),
                  QMessageBox::Yes | QMessageBox::Cancel, this);
  if (linked) box.setInformativeText(tr("已连接的端口和波特率保持不变。"));
  if (box.exec() != QMessageBox::Yes) return;
  WindowSettings defaults = AppSettings::Defaults();
  if (linked) {
    defaults.port = ui->serialPortBox->currentText();
    defaults.baud = ui->baudrateBox->currentText().toInt();
  }
  ApplySettings(defaults);
  SaveSettings();
  status->SetNote(tr("已恢复默认设置"));
}

void MainWindow::on_actionSaveDataCSV_triggered() {
  if (csv.Active()) {
    status->SetNote(StopCsv());
    return;
  }

  // Rows are appended to an existing file, so there is no replacing to confirm.
  const QString fileName = QFileDialog::getSaveFileName(this, tr("Save File"), saveDir, tr("CSV File (*.csv)"), nullptr,
                                                        QFileDialog::DontConfirmOverwrite);
  if (fileName.isEmpty()) {
    QMessageBox::information(this, tr("提示"), tr("未选择保存路径！"));
    return;
  }
  saveDir = fileName.left(fileName.lastIndexOf('/'));
  QDir dir(saveDir);
  if (!dir.exists()) dir.mkdir(saveDir);

  csvName = QFileInfo(fileName).fileName();
  switch (csv.Start(fileName)) {
    case CsvRecorder::Outcome::Recording:
      ui->actionSaveDataCSV->setText(tr("停止保存.csv"));
      status->SetNote(QString());
      status->SetRecording(StatusLine::Recording::Csv, [this] {
        return (csv.Appended() ? tr("追加到 %1 · %2 行") : tr("正在保存 %1 · %2 行")).arg(csvName).arg(csv.Rows());
      });
      break;
    case CsvRecorder::Outcome::OpenFailed:
      status->SetNote(tr("无法打开 %1：%2").arg(fileName, csv.Error()));
      QMessageBox::critical(this, tr("错误"), tr("打开保存文件失败！"));
      break;
    case CsvRecorder::Outcome::HeaderFailed:
      status->SetNote(tr("写入 %1 失败：%2").arg(fileName, csv.Error()));
      QMessageBox::critical(this, tr("错误"), tr("写入保存文件失败！"));
      break;
  }
}

QString MainWindow::StopCsv() {
  csv.Stop();
  ui->actionSaveDataCSV->setText(tr("保存.csv"));
  status->SetRecording(StatusLine::Recording::Csv, nullptr);
  return tr("已保存 %1 · %2 行").arg(csvName).arg(csv.Rows());
}

void MainWindow::on_actionAngleOffset_triggered() {
  float offset = 0.0f;
  protocol->GetAngleOffset(&offset);
  bool ok = false;
  const double value = QInputDialog::getDouble(this, tr("设置角度偏移"), tr("offset(°)"), offset, -360, 360, 2, &ok);
  if (!ok) return;
  protocol->SetAngleOffset(static_cast<float>(value));
  recording->AngleOffsetChanged();
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
