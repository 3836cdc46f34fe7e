#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMainWindow>
#include <QString>
#include <QTextStream>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "app/AppSettings.h"
#include "app/DiagnosisDock.h"
#include "app/LinkHealth.h"
#include "app/RawSaver.h"
#include "protocol/KXProtocol.h"
#include "protocol/KXScanPoint.h"
#include "scan/FrameAssembler.h"
#include "scan/RevolutionStats.h"
#include "scan/ScanFilter.h"

class Ui_MainWindow;
class QAction;
class QTimer;
class ReplayController;

// The one window of the tool: serial-port controls, the information panel,
// the 3-D view and the menus. It owns the protocol object and the worker
// thread that turns the protocol's point queue into frames for the view.
class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  static constexpr char kWindowTitle[] = "Kestrix Pelto LDS Tool-std.0.2.0";

  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  // Read-only views for tests and tools that drive the window.
  ScanSettings CurrentSettings() const;
  bool IsSavingCsv() const { return isSavingCsv.load(); }
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
  // Writes one batch of rows under csvMutex; on a write error ends the
  // recording and reports it on the GUI thread.
  void WriteCsvRows(const std::vector<KXScanPoint>& rows);
  void OnCsvWriteFailed();
  // Closes the recording file and drops whatever the stream could not write.
  // Caller holds csvMutex.
  void CloseCsvFile();
  void UpdateLinkHealth();
  // The status line: the link-health line while connected, and the hold note.
  void ShowStatus();

  // Hold (Space), restore defaults, and saving each setting as it changes.
  void AddViewCommands();
  WindowSettings GatherSettings() const;
  void ApplySettings(const WindowSettings& settings);
  void SaveSettings();

  // 文件 → 打开录制… and 保存原始数据…: a recording plays instead of the live
  // link; the live link's bytes can be saved for it.
  void AddRecordingCommands();
  void StopRawSaving();

  Ui_MainWindow* ui = nullptr;
  KXProtocol* protocol = nullptr;
  std::thread* workerThread = nullptr;
  std::atomic<bool> isRunning{false};
  std::atomic<bool> isSavingCsv{false};
  QString saveDir;
  QFile csvFile;
  QTextStream csvStream;
  std::mutex csvMutex;

  // Scan settings: written by the GUI thread, read by the worker each pass.
  std::atomic<bool> enableAngleCalib{true};
  std::atomic<bool> enableAlgoFilter{false};
  ScanFilter scanFilter;
  std::atomic<bool> enableDistCorrect{false};
  std::atomic<bool> enableAngleEdgeFilter{false};
  std::atomic<float> edgeFilterMargin{1.5f};
  std::atomic<bool> enableWaterNoiseFilter{false};
  std::atomic<double> diffThr{120.0};
  std::atomic<int32_t> filterMinRange{300};
  std::atomic<int32_t> filterMaxRange{1500};
  std::atomic<int32_t> filterIntensityThr{40};
  std::atomic<bool> frameResetPending{false};
  // The sensor was started on this connection and not stopped since: closing
  // the window then stops it, so it does not spin on after the tool is gone.
  bool sensorStarted = false;

  // Link health shown in the status bar while connected.
  QTimer* linkHealthTimer = nullptr;
  LinkHealth linkHealth;
  // Live plots of the revolutions' figures and the link counters.
  DiagnosisDock* diagnosisDock = nullptr;
  QString linkLine;

  QAction* holdAction = nullptr;

  ReplayController* replay = nullptr;
  RawSaver rawSaver;
  QAction* saveRawAction = nullptr;
};
