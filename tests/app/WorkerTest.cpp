// The worker as the window runs it, fed packet by packet through a real
// pseudo-terminal: its debug-log lines for abnormal angles, and the labels it
// keeps current from the GUI thread.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QMutex>
#include <QRegularExpression>
#include <QStringList>
#include <QTest>

#include "scan/ScanFilter.h"
#include "sim/SimPacket.h"
#include "tests/app/WindowDriver.h"
#include "tests/support/PtyPair.h"

using namespace apptest;

namespace {

QMutex logMutex;
QStringList debugLines;

void CaptureDebug(QtMsgType type, const QMessageLogContext&, const QString& msg) {
  if (type != QtDebugMsg) return;
  QMutexLocker lock(&logMutex);
  debugLines << msg;
}

QStringList ErrorLines() {
  QMutexLocker lock(&logMutex);
  return debugLines.filter(QRegularExpression("^ERROR: "));
}

sim::PacketBytes Packet(double startDeg, double endDeg, uint16_t stamp) {
  sim::PacketFields f;
  f.speedDegPerSec = 3600;  // 10 revolutions per second
  f.startAngleCdeg = static_cast<uint16_t>(startDeg * 100 + 0.5);
  f.endAngleCdeg = static_cast<uint16_t>(endDeg * 100 + 0.5);
  f.timestampMs = stamp;
  f.distanceMm.fill(1000);
  f.intensity.fill(50);
  return sim::EncodePacket(f);
}

TEST(WorkerTest, LogsAbnormalAnglesAndKeepsTheLabelsCurrent) {
  MainWindow window;
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  PtyPair pty;
  WidgetOf<QComboBox>(window, "serialPortBox")->setEditText(QString::fromStdString(pty.SlavePath()));
  QTest::mouseClick(WidgetOf<QPushButton>(window, "connectButton"), Qt::LeftButton);
  ASSERT_EQ(WidgetOf<QPushButton>(window, "connectButton")->text(), "断开");
  auto label = [&](const char* name) { return WidgetOf<QLabel>(window, name)->text(); };

  QtMessageHandler previous = qInstallMessageHandler(CaptureDebug);
  // A sweep moving forward: no complaint, and speed and stamp reach the labels.
  auto p = Packet(100.0, 103.3, 1234);
  pty.Write(p.data(), p.size());
  EXPECT_TRUE(WaitFor([&] { return label("timestampLabel") == "1234 ms"; }, 2000));
  EXPECT_EQ(label("rpmLabel"), "600 r/min");
  EXPECT_EQ(label("selectDistLabel"), "0 m");
  EXPECT_TRUE(ErrorLines().isEmpty());

  // Back by 40 degrees, far less than half a turn: logged, filed anyway.
  p = Packet(60.0, 63.3, 1240);
  pty.Write(p.data(), p.size());
  EXPECT_TRUE(WaitFor([&] { return !ErrorLines().isEmpty(); }, 2000));
  QStringList errors = ErrorLines();
  ASSERT_EQ(errors.size(), 1);
  const QRegularExpression change(
      "^ERROR: abnormal angle change found: last pkg end at  (\\S+)  current pkg end at  (\\S+)$");
  const QRegularExpressionMatch m = change.match(errors[0]);
  ASSERT_TRUE(m.hasMatch()) << errors[0].toStdString();
  EXPECT_EQ(m.captured(1), QString::number(ScanFilter::CalibrateAngle(103.3f), 'g', 6));
  EXPECT_EQ(m.captured(2), QString::number(ScanFilter::CalibrateAngle(63.3f), 'g', 6));
  EXPECT_TRUE(WaitFor([&] { return label("timestampLabel") == "1240 ms"; }, 2000));

  // A batch whose last angle lies beyond every slot (an offset pushes a raw
  // angle field past one turn) is dropped whole.
  ActionOf(window, "actionEnableAngleCalib")->trigger();
  window.Protocol()->SetAngleOffset(100.0f);
  p = Packet(650.0, 655.0, 1250);
  pty.Write(p.data(), p.size());
  EXPECT_TRUE(WaitFor([&] { return ErrorLines().size() == 2; }, 2000));
  errors = ErrorLines();
  ASSERT_EQ(errors.size(), 2);
  const QRegularExpression found("^ERROR: abnormal angle found:  (\\S+)$");
  const QRegularExpressionMatch f = found.match(errors[1]);
  ASSERT_TRUE(f.hasMatch()) << errors[1].toStdString();
  EXPECT_NEAR(f.captured(1).toDouble(), 395.0, 0.01);
  QTest::qWait(100);
  EXPECT_EQ(label("timestampLabel"), "1240 ms");  // a dropped batch updates no label

  // A second without data: speed and stamp fall back.
  EXPECT_TRUE(WaitFor([&] { return label("rpmLabel") == "0 r/min" && label("timestampLabel") == "-1 ms"; }, 3000));
  qInstallMessageHandler(previous);
}

}  // namespace
