// Whole sessions against the simulated sensor on a real pseudo-terminal,
// judged where the operator looks: the display's pixels, the labels, the
// status line, the message boxes and the CSV file.
#include <sys/resource.h>
#include <vtkCallbackCommand.h>
#include <vtkRenderWindow.h>

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QListView>
#include <QRegularExpression>
#include <QSlider>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QtCharts/QChartView>
#include <csignal>
#include <map>
#include <set>

#include "app/ReplayController.h"
#include "scan/FrameAssembler.h"
#include "tests/app/WindowDriver.h"
#include "viewer/SceneWidget.h"
#include "viewer/vtkViewer.h"
// Last: it brings Xlib's macros.
#include "tests/support/ScreenPixels.h"

using namespace apptest;

namespace {

std::map<QString, qulonglong> ReadCounters(const QString& file) {  // lds-sim's "name=value" lines
  std::map<QString, qulonglong> out;
  QFile f(file);
  if (f.open(QIODevice::ReadOnly))
    for (const QByteArray& line : f.readAll().split('\n'))
      if (line.indexOf('=') > 0) out[line.left(line.indexOf('='))] = line.mid(line.indexOf('=') + 1).toULongLong();
  return out;
}

// Rows of a CSV file, checking each line; -1 when it cannot be read.
int CountRows(const QString& file, int* headers) {
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
    m = QRegularExpression("^(\\d+) 点/秒 · (\\d+) 包/秒 · CRC错误 0 · 丢弃字节 0$")
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

  // Closing the window while the sensor measures stops it: start, stop,
  // start and the stop on closing are four acknowledged commands.
  EXPECT_EQ(Click("enableLidarButton"), "成功|启动成功！");
  ASSERT_TRUE(WaitLiveFrames(1));
  window.reset();
  EXPECT_TRUE(WaitFor([&] { return ReadCounters(stats)["acks"] == 4; }, 3000)) << ReadCounters(stats)["acks"];
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

  const QString full = tmp.path() + "/filling.csv";  // fills up while rows stream in
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
  EXPECT_TRUE(Line().contains(QRegularExpression("^写入 filling.csv 失败：File too large · 已写入 [1-9]\\d+ 行")))
      << Line().toStdString();

  const QString after = tmp.path() + "/after.csv";
  Record(after);
  EXPECT_TRUE(WaitFor([&] { return QFileInfo(after).size() > 4 * 1024; }));
  save->trigger();
  QFile f(after);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readLine(), QByteArray("angle,dist,intensity\n"));  // nothing carried over from the failed file
  int headers = 0;
  EXPECT_GT(CountRows(after, &headers), 100);
  EXPECT_EQ(headers, 1);
}

// The rows of a CSV file without its header lines.
QByteArray Rows(const QString& file) {
  QFile f(file);
  return f.open(QIODevice::ReadOnly) ? f.readAll().replace("angle,dist,intensity\n", "") : QByteArray();
}

// The rows the window should write for the bytes the sensor sent, decoded and
// filed as the worker does: a second, independent road to the same values.
std::vector<KXScanPoint> RowsFor(const QByteArray& sent, const ScanSettings& settings) {
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

// A sensor that goes away while connected and recording: within 2 s the window
// says so and why, is ready to connect again, and both files end whole, the
// CSV rows being the values the sensor sent. Restoring the defaults before
// leaves the open link's port and baud rate alone.
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
  const std::vector<KXScanPoint> expected = RowsFor(bytes, window->CurrentSettings());
  auto same = [](const QByteArray& line, const KXScanPoint& p) {
    const QList<QByteArray> v = line.split(',');
    return v.size() == 3 && std::abs(v[0].toDouble() - p.angle) < 1e-3 && v[1].toUInt() == p.distance &&
           v[2].toUInt() == p.intensity;
  };
  size_t first = 0;
  while (first < expected.size() && !(same(lines[0], expected[first]) && same(lines[1], expected[first + 1]))) ++first;
  int differ = 0;
  for (int i = 0; i + 1 < lines.size(); ++i)
    differ += first + i >= expected.size() || !same(lines[i], expected[first + i]);
  EXPECT_EQ(differ, 0) << "of " << lines.size() - 1 << " rows, from row " << first << " of " << expected.size();
  EXPECT_GT(lines.size(), 5000);

  // A new sensor connects, and the room is on the display.
  sim = std::make_unique<Sim>(QStringList{"--autostart"});
  Connect(sim->path);
  ASSERT_TRUE(WaitLiveFrames(3));
  QTest::qWait(200);
  EXPECT_GT(CountPixels(SceneArea(ScreenPixels(view)), Coloured), 300);
}

// Raw bytes saved from a live session replay as the same rows, bad packets
// and junk included, and the replay's bar comes and goes with the recording.
TEST_F(SessionTest, ARawRecordingReplaysTheSameRevolutions) {
  Sim sim({"--autostart", "--bad-crc-every", "97", "--garbage-every", "89", "--garbage-bytes", "7"});
  Connect(sim.path);
  ASSERT_TRUE(WaitLiveFrames(2));
  const QString raw = tmp.filePath("live.raw"), live = tmp.filePath("live.csv"), again = tmp.filePath("again.csv");
  QAction* saveRaw = Find<QAction>(*window, "actionSaveRaw");
  QString failed;
  ASSERT_TRUE(QFile::link("/dev/full", tmp.filePath("full.raw")));  // takes no byte
  answer.ThenSave(tmp.filePath("full.raw"));
  answer.ThenBox(&failed);  // the overwrite question
  answer.ThenBox(&failed);
  saveRaw->trigger();
  EXPECT_TRUE(WaitFor([&] { return answer.Done(); }));
  EXPECT_EQ(failed, "错误|写入保存文件失败！");
  EXPECT_FALSE(saveRaw->isChecked());
  answer.ThenSave(raw);
  saveRaw->trigger();
  Record(live);
  ASSERT_TRUE(WaitLiveFrames(20));
  Find<QAction>(*window, "actionSaveDataCSV")->trigger();
  QTest::mouseClick(Find<QPushButton>(*window, "connectButton"), Qt::LeftButton);  // ends the raw file too
  EXPECT_FALSE(saveRaw->isChecked());

  Record(again);
  const int framesBefore = liveFrames;
  answer.ThenSave(raw);
  Find<QAction>(*window, "actionOpenReplay")->trigger();
  ASSERT_TRUE(WaitFor([&] { return window->findChild<QAction*>("actionReplayFast"); }));
  Find<QAction>(*window, "actionReplayFast")->trigger();
  ASSERT_TRUE(WaitFor([&] { return !Find<QAction>(*window, "actionReplayPlay")->isChecked(); }, 20000));
  const QRegularExpressionMatch m = QRegularExpression("^第 (\\d+) / \\1 圈 · (\\d+\\.\\d) s · 结束$")
                                        .match(Find<QLabel>(*window, "replayPosition")->text());
  EXPECT_TRUE(m.hasMatch()) << Find<QLabel>(*window, "replayPosition")->text().toStdString();
  EXPECT_GE(m.captured(1).toInt(), 19);
  EXPECT_NEAR(m.captured(2).toDouble(), m.captured(1).toInt() / 10.0, 0.25);  // the packets' own clock
  EXPECT_TRUE(WaitFor([&] {
    return QRegularExpression("CRC错误 [1-9]\\d* · 丢弃字节 [1-9]\\d*$")
        .match(window->statusBar()->currentMessage())
        .hasMatch();
  })) << window->statusBar()->currentMessage().toStdString();
  QTest::qWait(100);                                            // the worker's last pass
  EXPECT_GE(liveFrames - framesBefore, m.captured(1).toInt());  // every whole revolution is shown
  Find<QAction>(*window, "actionSaveDataCSV")->trigger();
  const QByteArray liveRows = Rows(live), replayed = Rows(again);
  EXPECT_GT(liveRows.count('\n'), 20 * 400);
  EXPECT_TRUE(replayed.contains(liveRows))
      << liveRows.count('\n') << " live rows, " << replayed.count('\n') << " replayed";

  // 关闭录制 takes the bar away; an unreadable file says so and leaves none.
  Find<QAction>(*window, "actionCloseReplay")->trigger();
  auto barShown = [&] {
    auto* bar = window->findChild<QWidget*>("replayBar");
    return bar && bar->isVisible();
  };
  EXPECT_FALSE(barShown());
  QString box;
  answer.ThenBox(&box);
  EXPECT_FALSE(window->findChild<ReplayController*>()->Open(tmp.path()));
  EXPECT_TRUE(box.startsWith("错误|打开录制文件失败！")) << box.toStdString();
  EXPECT_FALSE(barShown());
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

// The names a file dialog lists in its folder, once it shows `expected` or after 3 s.
QString Listed(QFileDialog* dialog, const QString& expected) {
  auto* view = dialog->findChild<QListView*>("listView");
  QString names;
  WaitFor(
      [&] {
        QStringList n;
        const QModelIndex root = view->rootIndex();
        for (int r = 0; r < view->model()->rowCount(root); ++r) n << view->model()->index(r, 0, root).data().toString();
        n.sort();
        names = n.join(' ');
        return names == expected;
      },
      3000);
  return names;
}

// The raw saving dialog, name typed → file written; the open dialog lists
// them under its two filters, and a name typed without ".raw" opens the recording.
TEST_F(SessionTest, RawRecordingsAreNamedListedAndOpenedAsTyped) {
  Sim sim({"--autostart"});
  Connect(sim.path);
  ASSERT_TRUE(WaitLiveFrames(1));
  const QString dir = tmp.filePath("rec");
  ASSERT_TRUE(QDir().mkdir(dir));
  auto typeIn = [&](const QString& name, const std::function<void(QFileDialog*)>& before = {}) {
    answer.Then([=](QWidget* w) {
      auto* dialog = qobject_cast<QFileDialog*>(w);
      ASSERT_NE(dialog, nullptr);
      dialog->setDirectory(dir);
      if (before) before(dialog);
      dialog->findChild<QLineEdit*>("fileNameEdit")->setText(name);
      QMetaObject::invokeMethod(dialog, "accept");
    });
  };
  QAction* saveRaw = Find<QAction>(*window, "actionSaveRaw");
  for (auto [typed, written] : {std::pair{"run", "run.raw"}, {"take.raw", "take.raw"}, {"take.bin", "take.bin"}}) {
    typeIn(typed);
    saveRaw->trigger();
    EXPECT_TRUE(WaitFor([&, written = written] { return QFileInfo(dir + "/" + written).size() > 470; })) << typed;
    saveRaw->trigger();  // stops
  }
  EXPECT_EQ(QDir(dir).entryList(QDir::Files).join(' '), "run.raw take.bin take.raw");

  QString rawOnly, all;
  typeIn("run", [&](QFileDialog* dialog) {
    rawOnly = Listed(dialog, "run.raw take.raw");
    dialog->selectNameFilter(dialog->nameFilters().value(1));
    all = Listed(dialog, "run.raw take.bin take.raw");
  });
  Find<QAction>(*window, "actionOpenReplay")->trigger();
  EXPECT_EQ(rawOnly, "run.raw take.raw");
  EXPECT_EQ(all, "run.raw take.bin take.raw");
  EXPECT_EQ(Find<QLabel>(*window, "replayFile")->text().trimmed(), "run.raw");
}

// Stepping on gives the frames of a linear play; the slider and 上一圈 jump
// to a revolution with the frame a linear play shows there. The bar names
// the file, and a file without packets says so.
TEST_F(SessionTest, ReplayJumpsToAnyRevolutionWithTheFrameOfALinearPlay) {
  const QString room = tmp.filePath("room.raw"), junk = tmp.filePath("junk.raw");
  const std::vector<uint8_t> bytes = RoomRecording(13);
  QFile file(room), other(junk);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly) && other.open(QIODevice::WriteOnly));
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
  other.write(QByteArray(100, 'x'));
  file.close(), other.close();

  auto* replay = window->findChild<ReplayController*>();
  auto* view = Find<vtkViewer>(*window, "viewerWidget");
  auto frames = [&] { return liveFrames + emptyFrames; };
  // Acts, then waits for the position and for the frames it brings.
  auto act = [&](const std::function<void()>& action, int revolution, int newFrames) {
    const int target = frames() + newFrames;
    action();
    return WaitFor(
        [&] { return frames() == target && replay->Position().startsWith(QString("第 %1 / 12 圈").arg(revolution)); });
  };
  ASSERT_TRUE(act(
      [&] {
        ASSERT_TRUE(replay->Open(room));
        Find<QAction>(*window, "actionReplayPlay")->trigger();  // paused before a byte is played
      },
      0, 1));  // the empty frame of the start
  EXPECT_EQ(Find<QLabel>(*window, "replayFile")->text().trimmed(), "room.raw");
  std::map<int, std::vector<KXScanPoint>> linear;
  for (int k = 1; k <= 6; ++k) {
    ASSERT_TRUE(act([&] { Find<QAction>(*window, "actionReplayStep")->trigger(); }, k, k == 1 ? 2 : 1)) << k;
    linear[k] = view->NewestFrame();
  }
  auto* slider = Find<QSlider>(*window, "replaySlider");
  // A jump starts anew two revolutions before its target: a restart and two frames.
  ASSERT_TRUE(act([&] { slider->setValue(12); }, 12, 3));
  ASSERT_TRUE(act([&] { slider->setValue(4); }, 4, 3));
  EXPECT_TRUE(view->NewestFrame() == linear[4]);
  ASSERT_TRUE(act([&] { Find<QAction>(*window, "actionReplayBack")->trigger(); }, 3, 3));
  EXPECT_TRUE(view->NewestFrame() == linear[3]);
  ASSERT_TRUE(act([&] { slider->setValue(5); }, 5, 2));  // two ahead: played on
  EXPECT_TRUE(view->NewestFrame() == linear[5]);

  ASSERT_TRUE(replay->Open(junk));
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // the bar of the first file goes
  EXPECT_TRUE(WaitFor([&] { return Find<QLabel>(*window, "replayPosition")->text() == "文件中没有数据包 · 结束"; }));
  EXPECT_FALSE(Find<QSlider>(*window, "replaySlider")->isEnabled());
}

}  // namespace
