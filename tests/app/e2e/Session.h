#pragma once

// Whole sessions against the simulated sensor, judged where the operator
// looks: the display's pixels, the labels, the status line, the message boxes
// and the files written. The fixture and the helpers the sessions share.
#include <QComboBox>
#include <QLabel>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <map>

#include "scan/FrameAssembler.h"
#include "tests/app/WindowDriver.h"
#include "viewer/SceneWidget.h"

namespace apptest {

inline std::map<QString, qulonglong> ReadCounters(const QString& file) {  // lds-sim's "name=value" lines
  std::map<QString, qulonglong> out;
  QFile f(file);
  if (f.open(QIODevice::ReadOnly))
    for (const QByteArray& line : f.readAll().split('\n'))
      if (line.indexOf('=') > 0) out[line.left(line.indexOf('='))] = line.mid(line.indexOf('=') + 1).toULongLong();
  return out;
}

// Rows of a CSV file, checking each line; -1 when it cannot be read.
inline int CountRows(const QString& file, int* headers) {
  QFile f(file);
  if (!f.open(QIODevice::ReadOnly)) return -1;
  int rows = *headers = 0;
  for (const QByteArray& line : f.readAll().split('\n')) {
    if (line == "angle,dist,intensity")
      ++*headers;
    else if (!line.isEmpty())
      rows += QRegularExpression("^\\d+(\\.\\d+)?,\\d+,\\d+$").match(line).hasMatch() ? 1 : -1000000;
  }
  return rows;
}

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_unique<MainWindow>();
    QObject::connect(window.get(), &MainWindow::signalScanFrame, &context, [this](std::vector<KXScanPoint> f) {
      int filled = 0;
      for (const KXScanPoint& p : f) filled += p.distance != 0;
      ++(filled ? liveFrames : emptyFrames);
      all600 = all600 && f.size() == 600;
    });
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    view = Find<SceneWidget>(*window, "viewer");
  }
  void TearDown() override { EXPECT_TRUE(answer.Done()) << "a dialog the test expected never appeared"; }

  QString Label(const char* name) { return Find<QLabel>(*window, name)->text(); }
  QString Click(const char* button) {
    QString seen;
    answer.ThenBox(&seen);
    QTest::mouseClick(Find<QPushButton>(*window, button), Qt::LeftButton);
    WaitFor([&] { return !seen.isEmpty(); }, 10000);  // a command waits for the sensor's answer
    return seen;
  }
  void Connect(const QString& port) {
    window->UsePort(port, 230400, true);
    ASSERT_TRUE(WaitFor([&] { return Find<QPushButton>(*window, "connectButton")->text() == "断开"; }));
  }
  bool WaitLiveFrames(int n) {
    const int target = liveFrames + n;
    return WaitFor([&] { return liveFrames >= target; });
  }
  void Record(const QString& file) {
    answer.ThenSave(file);  // no question: rows are appended to a file that exists
    Find<QAction>(*window, "actionSaveDataCSV")->trigger();
  }
  QString Line() { return window->statusBar()->currentMessage(); }

  OwnSettings settings;
  QTemporaryDir tmp;
  QObject context;
  int liveFrames = 0, emptyFrames = 0;
  bool all600 = true;
  std::unique_ptr<MainWindow> window;
  SceneWidget* view = nullptr;
  ModalAnswerer answer;
};

// The rows of a CSV file without its header lines.
inline QByteArray Rows(const QString& file) {
  QFile f(file);
  return f.open(QIODevice::ReadOnly) ? f.readAll().replace("angle,dist,intensity\n", "") : QByteArray();
}

// The rows the window should write for the bytes the sensor sent, decoded and
// filed as the worker does: a second, independent road to the same values.
inline std::vector<KXScanPoint> RowsFor(const QByteArray& sent, const ScanSettings& settings) {
  KXProtocol decoder;
  decoder.SetQueueLimit(1u << 30);
  ScanFilter filter;
  FrameAssembler assembler(filter);
  std::vector<KXScanPoint> rows;
  for (int at = 0; at < sent.size(); at += 512) {
    decoder.OnDataReceived(reinterpret_cast<const uint8_t*>(sent.constData()) + at,
                           static_cast<uint32_t>(std::min(512, sent.size() - at)));
    const std::vector<KXScanPoint> filed = assembler.Step(decoder.TakeScanPoints(), settings, true).csvRows;
    rows.insert(rows.end(), filed.begin(), filed.end());
  }
  return rows;
}

// How many rows of a CSV file (its lines, without headers) are not, in
// order, the values the sensor sent: the first two rows are sought among the
// rows for `sent`, and from there every row must follow.
inline int RowsUnlikeSent(const QList<QByteArray>& lines, const QByteArray& sent, const ScanSettings& settings) {
  const std::vector<KXScanPoint> expected = RowsFor(sent, settings);
  auto same = [](const QByteArray& line, const KXScanPoint& p) {
    const QList<QByteArray> v = line.split(',');
    return v.size() == 3 && std::abs(v[0].toDouble() - p.angle) < 1e-3 && v[1].toUInt() == p.distance &&
           v[2].toUInt() == p.intensity;
  };
  size_t first = 0;
  while (first + 1 < expected.size() && lines.size() > 1 &&
         !(same(lines[0], expected[first]) && same(lines[1], expected[first + 1])))
    ++first;
  int differ = 0;
  for (int i = 0; i + 1 < lines.size(); ++i)
    differ += first + i >= expected.size() || !same(lines[i], expected[first + i]);
  return differ;
}

}  // namespace apptest
