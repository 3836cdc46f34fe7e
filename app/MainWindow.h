#pragma once

#include <QMainWindow>
#include <QString>
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "app/AppSettings.h"
#include "app/CsvRecorder.h"
#include "app/DiagnosisDock.h"
#include "app/FeedGate.h"
#include "app/LinkControl.h"
#include "app/SharedScanSettings.h"
#include "protocol/KXProtocol.h"
#include "protocol/KXScanPoint.h"
#include "scan/FrameAssembler.h"
#include "scan/RevolutionStats.h"
#include "scan/ScanFilter.h"

class Ui_MainWindow;
class RecordingCommands;
class StatusLine;

// The one window of the tool: serial-port controls, the information panel,
// the 3-D view and the menus. It owns the protocol object and the worker
// thread that turns the protocol's point queue into frames for the view, and
// wires the widgets to the classes that carry the other commands.
class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  static constexpr char kWindowTitle[] = "Kestrix Pelto LDS Tool-std.0.2.0";

  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  // Read-only views for tests and tools that drive the window.
  ScanSettings CurrentSettings() const;
  bool IsSavingCsv() const { return csv.Active(); }
  QString SaveDir() const { return saveDir; }
  KXProtocol* Protocol() const { return protocol; }

  // Fills in the port and baud rate (unless 0) as the operator would, and with `connect`
  // connects once the event loop runs (a failure shows the usual message box).
  void UsePort(const QString& port, int baud, bool connect);
  // Shows or hides the diagnosis view, as 显示 → 诊断 does.
  void ShowDiagnosis(bool show);

 signals:
  void signalScanFrame(std::vector<KXScanPoint> _frame);
  // The figures of each revolution the worker completes.
  void signalRevolutionStats(RevolutionFigures figures);

 private slots:
  void on_refreshPortButton_clicked();
  void on_connectButton_clicked();
  void on_actionSetPointSize_triggered();
  void on_actionSaveDataCSV_triggered();
  void on_actionAngleOffset_triggered();
  void on_actionEnableAngleCalib_triggered();
  void on_actionAlgoFilter_triggered();
  void on_actionEnableDistCorrect_triggered();
  void on_actionEnableAngleEdgeFilter_triggered();
  void on_actionSetDiffThr_triggered();
  void on_actionFilterMinRange_triggered();
  void on_actionFilterMaxRange_triggered();
  void on_actionFilterIntnesityThr_triggered();
  void on_actionEnableWaterNoiseFilter_triggered();
  void on_enableLidarButton_clicked();
  void on_disableLidarButton_clicked();
  void on_clockwiseRotationAction_triggered();
  void on_counterClockwiseRotationAction_triggered();

 private:
  void runWorker();
  // The CSV recording ended on a write error: says so on the GUI thread.
  void OnCsvWriteFailed();
  // Ends the CSV recording; returns the status line's note on what was kept.
  QString StopCsv();

  // The link's state as the widgets show it: 连接/断开, and the port, baud
  // rate and refresh controls usable only while no link is open or opening;
  // 连接, 启动 and 停止 wait while a command runs.
  void ShowLinkState();
  void OnConnected();
  void OnConnectFailed(const QString& reason);
  void OnLinkLost(const QString& reason);
  // Start and stop wait for a connect under way: says so with `failure`'s box. True when refused.
  bool RefusedWhileConnecting(const QString& failure);
  // 启动 and 停止: the command runs on the link's thread, the window meanwhile
  // says so; the outcome comes in a message box.
  void SendCommand(LinkControl::Command command);
  void OnCommandDone(LinkControl::Command command, bool ok);
  // 恢复默认设置, once confirmed: an open link keeps its port and baud rate.
  void RestoreDefaults();

  // Each setting is saved as it changes, and again on closing.
  WindowSettings GatherSettings() const;
  void ApplySettings(const WindowSettings& settings);
  void SaveSettings();

  Ui_MainWindow* ui = nullptr;
  KXProtocol* protocol = nullptr;
  LinkControl* link = nullptr;
  std::thread* workerThread = nullptr;
  std::atomic<bool> isRunning{false};
  QString saveDir;
  CsvRecorder csv;
  QString csvName;  // the recording's file name, for the status line

  SharedScanSettings scan;
  ScanFilter scanFilter;
  FeedGate feedGate;

  // Live plots of the revolutions' figures and the link counters.
  DiagnosisDock* diagnosisDock = nullptr;
  StatusLine* status = nullptr;
  RecordingCommands* recording = nullptr;
};
