// Sessions of the live link against lds-sim on a real pseudo-terminal: the
// view, the plots, the commands, the recordings and their failures, and a
// sensor that goes away.
#include <sys/resource.h>
#include <unistd.h>
#include <vtkCallbackCommand.h>
#include <vtkRenderWindow.h>

#include <QtCharts/QChartView>
#include <csignal>
#include <set>

#include "app/StopSignals.h"
#include "tests/app/e2e/Session.h"
#include "viewer/vtkViewer.h"
// Last: it brings Xlib's macros.
#include "tests/support/ScreenPixels.h"

using namespace apptest;

namespace {

TEST_F(SessionTest, TheDisplayShowsEveryRevolutionAndTheMeasuringLine) {
  Sim sim({"--autostart", "--noise", "400", "--pps", "6000"});
  Connect(sim.path);
  ASSERT_TRUE(WaitLiveFrames(3));
  // Revolutions differ by their noise: a live view shows a new picture nearly
  // every time it is looked at, a frozen one always the same.
  std::set<QByteArray> pictures;
  QImage last;
  for (int i = 0; i < 10; ++i) {
    QTest::qWait(200);
    last = SceneArea(ScreenPixels(view));
    EXPECT_GT(CountPixels(last, Coloured), 300) << "look " << i;
    pictures.insert(QByteArray(reinterpret_cast<const char*>(last.constBits()), last.sizeInBytes()));
  }
  EXPECT_GE(pictures.size(), 5u);

  // Space holds the view: one picture while frames keep coming; the status line says so.
  window->activateWindow();  // no window manager here to do it
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
  QTest::qWait(100);
  last = SceneArea(ScreenPixels(view));
  const int heldAt = liveFrames;
  for (int i = 0; i < 5; ++i, QTest::qWait(200)) EXPECT_TRUE(SceneArea(ScreenPixels(view)) == last) << "look " << i;
  EXPECT_GE(liveFrames, heldAt + 5);
  EXPECT_TRUE(window->statusBar()->currentMessage().contains(QRegularExpression("包/秒 .* · 画面已暂停$")));

  // A right click on a point of the held frame measures it and draws the red line.
  QPoint target;
  for (int y = 0; y < last.height() && target.isNull(); y += 2)
    for (int x = 0; x < last.width() && target.isNull(); x += 2)
      if (Coloured(last.pixel(x, y)) && (QPoint(x, y) - view->rect().center()).manhattanLength() > 60)
        target = QPoint(x, y);
  ASSERT_FALSE(target.isNull());
  QTest::mouseClick(view, Qt::RightButton, Qt::NoModifier, target);
  EXPECT_TRUE(WaitFor([&] { return Label("selectDistLabel") != "0 m"; }, 2000));
  EXPECT_GT(CountPixels(SceneArea(ScreenPixels(view)), Red), 20);

  last = SceneArea(ScreenPixels(view));  // held, with the line
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
  EXPECT_TRUE(WaitFor([&] { return !(SceneArea(ScreenPixels(view)) == last); }, 2000));
}

// 显示 → 诊断 opens the plots beside the view; after a stream the display shows
// the speed as a flat line and the points per revolution above the empty points.
TEST_F(SessionTest, TheDiagnosisViewPlotsTheStream) {
  Sim sim({"--autostart"});
  Find<QAction>(*window, "actionDiagnosis")->trigger();
  Find<QComboBox>(*window, "spanBox")->setCurrentIndex(0);  // 10 s
  Connect(sim.path);
  ASSERT_TRUE(WaitLiveFrames(25));
  QTest::qWait(1500);                                    // the plots are redrawn once a second
  auto rowsOf = [this](const char* plot, QRgb colour) {  // rows of the plot area in that colour
    std::vector<int> rows;
    auto* view = Find<QtCharts::QChartView>(*window, plot);
    const QImage image = ScreenPixels(view).copy(view->chart()->plotArea().toRect());
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        if (image.pixel(x, y) == colour) rows.push_back(y);
    return rows;
  };
  const std::vector<int> speed = rowsOf("speedPlot", qRgb(30, 90, 220)),
                         points = rowsOf("pointsPlot", qRgb(20, 150, 60)),
                         empty = rowsOf("pointsPlot", qRgb(230, 120, 0));
  ASSERT_GT(std::min({speed.size(), points.size(), empty.size()}), 80u);
  EXPECT_LE(speed.back() - speed.front(), 3);
  EXPECT_LT(points.back(), empty.front());
}

TEST_F(SessionTest, ConnectIdleStartRecordStopAndCloseWhileMeasuring) {
  const QString link = tmp.path() + "/lds", stats = tmp.path() + "/stats";
  Sim sim({"--link", link, "--stats-file", stats});
  Find<QComboBox>(*window, "serialPortBox")->setEditText(link);  // typed, not from the list
  QTest::mouseClick(Find<QPushButton>(*window, "connectButton"), Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] { return emptyFrames == 1; }));
  EXPECT_FALSE(Find<QComboBox>(*window, "serialPortBox")->isEnabled());

  // Connected, no data: the view is not rendered at all.
  int renders = 0;
  vtkNew<vtkCallbackCommand> counter;
  counter->SetClientData(&renders);
  counter->SetCallback([](vtkObject*, unsigned long, void* n, void*) { ++*static_cast<int*>(n); });
  view->renderWindow()->AddObserver(vtkCommand::EndEvent, counter);
  QTest::qWait(1500);
  EXPECT_EQ(renders, 0);

  EXPECT_EQ(Click("enableLidarButton"), "成功|启动成功！");
  ASSERT_TRUE(WaitLiveFrames(5));
  EXPECT_GE(renders, 5);
  EXPECT_TRUE(all600);
  EXPECT_TRUE(WaitFor([&] { return Label("rpmLabel") == "600 r/min"; })) << Label("rpmLabel").toStdString();
  QRegularExpressionMatch m;
  EXPECT_TRUE(WaitFor([&] {  // a loaded machine may show a slow first second
    m = QRegularExpression("^传感器已启动 · (\\d+) 点/秒 · (\\d+) 包/秒 · CRC错误 0 · 丢弃字节 0$")
            .match(window->statusBar()->currentMessage());
    return m.hasMatch() && std::abs(m.captured(1).toInt() - 4500) <= 700;
  })) << window->statusBar()->currentMessage().toStdString();
  EXPECT_EQ(m.captured(1).toInt(), 12 * m.captured(2).toInt());

  // Record, then append to the same file: a second header, more rows.
  const QString file = tmp.path() + "/session.csv";
  QAction* save = Find<QAction>(*window, "actionSaveDataCSV");
  int headers = 0, rows = 0;
  for (int pass = 1; pass <= 2; ++pass) {
    const qint64 before = QFileInfo(file).size();
    Record(file);
    EXPECT_EQ(save->text(), "停止保存.csv");
    EXPECT_TRUE(WaitFor([&] { return QFileInfo(file).size() > before + 16 * 1024; }));
    EXPECT_TRUE(Line().startsWith(pass == 1 ? "正在保存 session.csv · " : "追加到 session.csv · "));
    save->trigger();
    const int now = CountRows(file, &headers);
    EXPECT_GT(now, rows + 500);
    EXPECT_EQ(headers, pass);
    EXPECT_TRUE(Line().startsWith(QString("已保存 session.csv · %1 行 · ").arg(now - rows))) << Line().toStdString();
    rows = now;
  }

  EXPECT_EQ(Click("disableLidarButton"), "成功|停止成功！");
  EXPECT_TRUE(WaitFor([&] { return Label("rpmLabel") == "0 r/min" && Label("timestampLabel") == "-1 ms"; }));

  // Closing the window while 启动 runs waits for it, then stops the sensor:
  // start, stop, start and the stop on closing are four acknowledged commands.
  QTest::mouseClick(Find<QPushButton>(*window, "enableLidarButton"), Qt::LeftButton);
  window.reset();
  EXPECT_TRUE(WaitFor([&] { return ReadCounters(stats)["acks"] == 4; }, 3000)) << ReadCounters(stats)["acks"];
}

// 启动 against a sensor that does not answer: the command waits for the
// acknowledgement, opens the port anew and tries again, for about 1.5 s, all
// beside the event loop. Meanwhile the window says what runs and keeps its
// link buttons still; the box comes once the command has failed.
TEST_F(SessionTest, AnUnansweredStartLeavesTheWindowFree) {
  Sim sim({"--no-ack"});
  Connect(sim.path);
  int beats = 0, beatsAtBox = -1;
  QTimer beat;
  QObject::connect(&beat, &QTimer::timeout, [&] { ++beats; });
  beat.start(20);
  QString seen;
  answer.Then([&](QWidget* w) {
    beatsAtBox = beats;
    seen = w->windowTitle() + "|" + qobject_cast<QMessageBox*>(w)->text();
    qobject_cast<QMessageBox*>(w)->accept();
  });
  QStringList said;  // the reopened port is no lost link
  QObject::connect(window->statusBar(), &QStatusBar::messageChanged, &context, [&](const QString& m) { said << m; });
  QTest::mouseClick(Find<QPushButton>(*window, "enableLidarButton"), Qt::LeftButton);
  EXPECT_TRUE(Line().startsWith("正在启动…")) << Line().toStdString();
  for (const char* button : {"enableLidarButton", "disableLidarButton", "connectButton"})
    EXPECT_FALSE(Find<QPushButton>(*window, button)->isEnabled()) << button;
  ASSERT_TRUE(WaitFor([&] { return !seen.isEmpty(); }, 10000));
  EXPECT_EQ(seen, "错误|启动失败！");
  EXPECT_GT(beatsAtBox, 25);  // half a second of beats at least
  EXPECT_TRUE(Line().startsWith("启动失败：传感器没有应答")) << Line().toStdString();
  EXPECT_FALSE(said.join('\n').contains("连接已断开")) << said.join('\n').toStdString();
  EXPECT_TRUE(Find<QPushButton>(*window, "enableLidarButton")->isEnabled() &&
              Find<QPushButton>(*window, "connectButton")->text() == "断开");
}

// SIGTERM while measuring and recording ends the program's event loop with
// status 0, and the program closes as the window's close does: the sensor it
// started is stopped (its start and stop are two acknowledged commands), and
// the CSV file keeps whole rows.
TEST_F(SessionTest, SigtermWhileMeasuringClosesAsTheWindowDoes) {
  const QString stats = tmp.path() + "/stats", file = tmp.path() + "/term.csv";
  Sim sim({"--stats-file", stats});
  const StopSignals stopSignals;
  Connect(sim.path);
  EXPECT_EQ(Click("enableLidarButton"), "成功|启动成功！");
  Record(file);
  ASSERT_TRUE(WaitLiveFrames(3));
  kill(getpid(), SIGTERM);
  EXPECT_EQ(QApplication::exec(), 0);
  window.reset();
  EXPECT_TRUE(WaitFor([&] { return ReadCounters(stats)["acks"] == 2; }, 3000)) << ReadCounters(stats)["acks"];
  int headers = 0;
  EXPECT_GT(CountRows(file, &headers), 100);
}

// A file that refuses writes ends the recording with a message; what reached
// the file stays, and the next recording starts clean.
TEST_F(SessionTest, WriteErrorsEndTheRecordingAndSaySo) {
  Sim sim({"--autostart"});
  Connect(sim.path);
  ASSERT_TRUE(WaitLiveFrames(1));
  QAction* save = Find<QAction>(*window, "actionSaveDataCSV");
  QString failed;
  answer.ThenSave("/dev/full");  // takes not even the header
  answer.ThenBox(&failed);
  save->trigger();
  EXPECT_EQ(failed, "错误|写入保存文件失败！");
  EXPECT_TRUE(Line().startsWith("写入 /dev/full 失败：No space left on device")) << Line().toStdString();

  // Fills up while rows stream in (whole rows and the count: CsvRecorderTest).
  const QString full = tmp.path() + "/filling.csv";
  rlimit old{}, small{};
  getrlimit(RLIMIT_FSIZE, &old);
  small = old;
  small.rlim_cur = 32 * 1024;
  auto oldHandler = signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
  setrlimit(RLIMIT_FSIZE, &small);
  answer.ThenSave(full);
  answer.ThenBox(&failed);
  failed.clear();
  save->trigger();
  EXPECT_TRUE(WaitFor([&] { return answer.Done(); }));
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(failed, "错误|写入保存文件失败！");
  EXPECT_FALSE(window->IsSavingCsv());
  EXPECT_EQ(save->text(), "保存.csv");
  EXPECT_GT(QFileInfo(full).size(), 16 * 1024);  // rows before the failure are kept
  const QRegularExpressionMatch m =
      QRegularExpression("^写入 filling.csv 失败：File too large · 已写入 ([1-9]\\d+) 行").match(Line());
  EXPECT_TRUE(m.hasMatch()) << Line().toStdString();
  int headers = 0;

  const QString after = tmp.path() + "/after.csv";
  Record(after);
  EXPECT_TRUE(WaitFor([&] { return QFileInfo(after).size() > 4 * 1024; }));
  save->trigger();
  QFile f(after);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readLine(), QByteArray("angle,dist,intensity\n"));  // nothing carried over from the failed file
  EXPECT_GT(CountRows(after, &headers), 100);
  EXPECT_EQ(headers, 1);
}

// A sensor that goes away while connected and recording: within 2 s the window
// says so and why, is ready to connect again, and both files end whole, the
// CSV rows being the values the sensor sent. Restoring the defaults before
// leaves the open link's port and baud rate alone. The next connection
// starts the trail anew.
TEST_F(SessionTest, ALostSensorEndsTheLinkAndTheRecordingsKeepEveryRow) {
  const QString capture = tmp.filePath("sent"), csvFile = tmp.filePath("lost.csv"), raw = tmp.filePath("lost.raw");
  auto sim = std::make_unique<Sim>(QStringList{"--autostart", "--capture", capture});
  window->UsePort(sim->path, 460800, true);
  ASSERT_TRUE(WaitFor([&] { return Find<QPushButton>(*window, "connectButton")->text() == "断开"; }));
  QString question;
  answer.ThenBox(&question);
  Find<QAction>(*window, "actionRestoreDefaults")->trigger();
  EXPECT_TRUE(question.endsWith("？")) << question.toStdString();
  EXPECT_EQ(Find<QComboBox>(*window, "serialPortBox")->currentText() + " " +
                Find<QComboBox>(*window, "baudrateBox")->currentText(),
            sim->path + " 460800");

  Find<vtkViewer>(*window, "viewerWidget")->SetTrailLength(5);
  Record(csvFile);
  answer.ThenSave(raw);
  Find<QAction>(*window, "actionSaveRaw")->trigger();
  ASSERT_TRUE(WaitLiveFrames(20));
  sim->proc.terminate();
  ASSERT_TRUE(sim->proc.waitForFinished(5000));
  QElapsedTimer lost;
  lost.start();
  EXPECT_TRUE(WaitFor([&] { return Find<QPushButton>(*window, "connectButton")->text() == "连接"; }, 2000));
  EXPECT_LT(lost.elapsed(), 2000);
  EXPECT_TRUE(Find<QComboBox>(*window, "serialPortBox")->isEnabled());
  EXPECT_FALSE(window->IsSavingCsv() || Find<QAction>(*window, "actionSaveRaw")->isChecked());
  const QRegularExpressionMatch m = QRegularExpression(
                                        "^与 (.+) 的连接已断开：.+ · 已保存 lost.csv · (\\d+) 行 · "
                                        "已保存原始数据 lost.raw · (\\d+) 字节$")
                                        .match(Line());
  ASSERT_TRUE(m.hasMatch()) << Line().toStdString();
  EXPECT_EQ(m.captured(1), sim->path);

  // Every row whole, as many as the line says, each the sensor's own values.
  QFile sent(capture), rawFile(raw);
  ASSERT_TRUE(sent.open(QIODevice::ReadOnly) && rawFile.open(QIODevice::ReadOnly));
  const QByteArray bytes = sent.readAll(), rawBytes = rawFile.readAll();
  EXPECT_EQ(rawBytes.size(), m.captured(3).toInt());
  EXPECT_TRUE(rawBytes.size() > 10000 && bytes.contains(rawBytes));
  const QList<QByteArray> lines = Rows(csvFile).split('\n');
  ASSERT_EQ(lines.size() - 1, m.captured(2).toInt());
  EXPECT_TRUE(lines.last().isEmpty());  // the last row ends with its line end
  EXPECT_EQ(RowsUnlikeSent(lines, bytes, window->CurrentSettings()), 0) << "of " << lines.size() - 1 << " rows";
  EXPECT_GT(lines.size(), 5000);

  // A new sensor connects: the view is empty until it is started, then shows the room.
  sim = std::make_unique<Sim>(QStringList{});
  const int empty = emptyFrames;
  Connect(sim->path);
  ASSERT_TRUE(WaitFor([&] { return emptyFrames > empty; }));
  QTest::qWait(200);
  EXPECT_LT(CountPixels(SceneArea(ScreenPixels(view)), Coloured), 20);
  EXPECT_EQ(Click("enableLidarButton"), "成功|启动成功！");
  ASSERT_TRUE(WaitLiveFrames(3));
  QTest::qWait(200);
  EXPECT_GT(CountPixels(SceneArea(ScreenPixels(view)), Coloured), 300);
}

TEST_F(SessionTest, ACorruptedFastLineGivesFramesAndHonestCounts) {
  const QString stats = tmp.path() + "/stats";
  Sim sim({"--baud", "460800", "--pps", "max", "--bad-crc-every", "37", "--garbage-every", "23", "--garbage-bytes",
           "11", "--stats-file", stats});
  window->UsePort(sim.path, 460800, true);
  ASSERT_TRUE(WaitFor([&] { return window->Protocol()->IsConnected(); }));
  ASSERT_TRUE(window->Protocol()->EnableLidar());
  ASSERT_TRUE(WaitLiveFrames(10));
  window->Protocol()->DisableLidar();
  std::map<QString, qulonglong> sent;
  QRegularExpressionMatch m;
  EXPECT_TRUE(WaitFor([&] {  // once the line is quiet, both sides agree
    sent = ReadCounters(stats);
    m = QRegularExpression("CRC错误 (\\d+) · 丢弃字节 (\\d+)$").match(window->statusBar()->currentMessage());
    return m.hasMatch() && m.captured(1).toULongLong() == sent["bad_crc"] &&
           m.captured(2).toULongLong() == sent["garbage_bytes"];
  })) << window->statusBar()->currentMessage().toStdString();
  EXPECT_GT(sent["bad_crc"], 10u);
  EXPECT_GT(sent["garbage_bytes"], 100u);
}

}  // namespace
