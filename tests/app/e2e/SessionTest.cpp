// Whole sessions against the simulated sensor on a real pseudo-terminal:
// connect, start, frames, recording, stop, disconnect, and the faults a real
// line shows (hang-ups, corrupted packets, junk, a silent device).
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <cstdlib>

#include "tests/app/WindowDriver.h"

using namespace apptest;

namespace {

// One lds-sim process; stopped (and its counters written) on destruction.
class Sim {
 public:
  explicit Sim(const QStringList& args) {
    // Through setpriv, the simulator ends with this process even if a test
    // aborts before its destructor runs.
    if (QFileInfo::exists(QStringLiteral("/usr/bin/setpriv"))) {
      proc.setProgram(QStringLiteral("/usr/bin/setpriv"));
      proc.setArguments(QStringList{"--pdeathsig", "TERM", QStringLiteral(LDS_SIM_PATH)} + args);
    } else {
      proc.setProgram(QStringLiteral(LDS_SIM_PATH));
      proc.setArguments(args);
    }
    proc.setProcessChannelMode(QProcess::SeparateChannels);
    proc.start();
    if (!proc.waitForStarted(5000)) return;
    QElapsedTimer t;
    t.start();
    while (!proc.canReadLine() && t.elapsed() < 5000) proc.waitForReadyRead(100);
    path = QString::fromLocal8Bit(proc.readLine()).trimmed();
  }
  ~Sim() { Stop(); }
  void Stop() {
    if (proc.state() == QProcess::NotRunning) return;
    proc.terminate();
    if (!proc.waitForFinished(5000)) {
      proc.kill();
      proc.waitForFinished(2000);
    }
  }
  bool Running() const { return proc.state() != QProcess::NotRunning; }

  QProcess proc;
  QString path;
};

// Parses the simulator's "name=value" counter file.
std::map<QString, qulonglong> ReadCounters(const QString& file) {
  std::map<QString, qulonglong> out;
  QFile f(file);
  if (!f.open(QIODevice::ReadOnly)) return out;
  for (const QByteArray& line : f.readAll().split('\n')) {
    const int eq = line.indexOf('=');
    if (eq > 0) out[QString::fromLatin1(line.left(eq))] = line.mid(eq + 1).toULongLong();
  }
  return out;
}

// Frames as the GUI thread receives them from the worker.
struct FrameLog {
  int frames = 0;
  int emptyFrames = 0;
  int liveFrames = 0;
  bool allHad600 = true;
};

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp.isValid());
    window = std::make_unique<MainWindow>();
    window->setWindowTitle(MainWindow::kWindowTitle);
    QObject::connect(window.get(), &MainWindow::signalScanFrame, &context, [this](std::vector<KXScanPoint> frame) {
      ++log.frames;
      log.allHad600 = log.allHad600 && frame.size() == 600;
      int filled = 0;
      for (const KXScanPoint& p : frame) filled += p.distance != 0;
      if (filled == 0)
        ++log.emptyFrames;
      else
        ++log.liveFrames;
    });
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }
  void TearDown() override {
    window.reset();
    EXPECT_TRUE(answer.Done()) << "a dialog the test expected never appeared";
  }

  QPushButton* Button(const char* name) { return WidgetOf<QPushButton>(*window, name); }
  QString Label(const char* name) { return WidgetOf<QLabel>(*window, name)->text(); }

  void Connect(const QString& port, int baudIndex = 1) {
    WidgetOf<QComboBox>(*window, "baudrateBox")->setCurrentIndex(baudIndex);
    WidgetOf<QComboBox>(*window, "serialPortBox")->setEditText(port);
    QTest::mouseClick(Button("connectButton"), Qt::LeftButton);
    ASSERT_EQ(Button("connectButton")->text(), "断开");
  }
  SeenBox Click(const char* button) {
    SeenBox seen;
    answer.ThenBox(&seen);
    QTest::mouseClick(Button(button), Qt::LeftButton);
    return seen;
  }
  void Record(const QString& file, bool exists = false) {
    answer.Then(AcceptSaveDialog(file));
    if (exists) answer.Then(AnswerYes());
    ActionOf(*window, "actionSaveDataCSV")->trigger();
  }
  bool WaitLiveFrames(int n, int timeoutMs = 5000) {
    const int target = log.liveFrames + n;
    return WaitFor([&] { return log.liveFrames >= target; }, timeoutMs);
  }

  QTemporaryDir tmp;
  QObject context;
  FrameLog log;
  std::unique_ptr<MainWindow> window;
  ModalAnswerer answer;
};

const QRegularExpression kRow(QStringLiteral("^\\d+(\\.\\d+)?,\\d+,\\d+$"));

// Checks a CSV file: every line complete, headers where given, rows valid.
int CountRows(const QString& file, int* headers) {
  QFile f(file);
  if (!f.open(QIODevice::ReadOnly)) return -1;
  const QByteArray all = f.readAll();
  EXPECT_TRUE(all.endsWith('\n')) << "last row cut short";
  int rows = 0;
  *headers = 0;
  for (const QByteArray& line : all.split('\n')) {
    if (line.isEmpty()) continue;
    if (line == "angle,dist,intensity") {
      ++*headers;
      continue;
    }
    EXPECT_TRUE(kRow.match(QString::fromLatin1(line)).hasMatch()) << line.toStdString();
    ++rows;
  }
  return rows;
}

TEST_F(SessionTest, ConnectStartRecordStopDisconnect) {
  const QString link = tmp.path() + "/lds-link";
  Sim sim({"--link", link});
  ASSERT_FALSE(sim.path.isEmpty());

  Connect(link);  // typed, not from the port list
  EXPECT_FALSE(WidgetOf<QComboBox>(*window, "serialPortBox")->isEnabled());
  EXPECT_FALSE(WidgetOf<QComboBox>(*window, "baudrateBox")->isEnabled());
  EXPECT_FALSE(Button("refreshPortButton")->isEnabled());
  ASSERT_TRUE(WaitFor([&] { return log.emptyFrames == 1; }, 2000));
  EXPECT_EQ(log.liveFrames, 0);

  SeenBox started = Click("enableLidarButton");
  EXPECT_EQ(started.title, "成功");
  EXPECT_EQ(started.text, "启动成功！");
  EXPECT_EQ(started.icon, QMessageBox::Information);
  ASSERT_TRUE(WaitLiveFrames(5));
  EXPECT_TRUE(log.allHad600);
  EXPECT_TRUE(WaitFor([&] { return Label("rpmLabel") == "600 r/min"; }, 1000)) << Label("rpmLabel").toStdString();
  EXPECT_TRUE(Label("timestampLabel").endsWith(" ms"));
  EXPECT_NE(Label("timestampLabel"), "-1 ms");

  // Link health: 4500 points per second from the simulator, a clean line.
  // A loaded machine may deliver a slow second first, so wait for the rate
  // to settle rather than judge the first figure shown.
  const QRegularExpression health(QStringLiteral("^(\\d+) 点/秒 · (\\d+) 包/秒 · CRC错误 0 · 丢弃字节 0$"));
  QRegularExpressionMatch m;
  EXPECT_TRUE(WaitFor(
      [&] {
        m = health.match(window->statusBar()->currentMessage());
        return m.hasMatch() && std::abs(m.captured(1).toInt() - 4500) <= 700;
      },
      5000))
      << window->statusBar()->currentMessage().toStdString();
  ASSERT_TRUE(m.hasMatch());
  EXPECT_EQ(m.captured(1).toInt(), 12 * m.captured(2).toInt());

  // Record to a new file, then append to it.
  const QString file = tmp.path() + "/session.csv";
  Record(file);
  EXPECT_EQ(ActionOf(*window, "actionSaveDataCSV")->text(), "停止保存.csv");
  // Rows are about 16 bytes: wait for well over 500 of them, however slow the machine.
  EXPECT_TRUE(WaitFor([&] { return QFileInfo(file).size() > 16 * 1024; }, 5000));
  ActionOf(*window, "actionSaveDataCSV")->trigger();
  int headers = 0;
  const int firstRows = CountRows(file, &headers);
  EXPECT_EQ(headers, 1);
  EXPECT_GT(firstRows, 500);
  const qint64 firstSize = QFileInfo(file).size();
  Record(file, true);
  EXPECT_TRUE(WaitFor([&] { return QFileInfo(file).size() > firstSize + 16 * 1024; }, 5000));
  ActionOf(*window, "actionSaveDataCSV")->trigger();
  const int allRows = CountRows(file, &headers);
  EXPECT_EQ(headers, 2);
  EXPECT_GT(allRows, firstRows + 500);
  QFile f(file);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_TRUE(f.readLine().startsWith("angle,dist,intensity"));

  SeenBox stopped = Click("disableLidarButton");
  EXPECT_EQ(stopped.title, "成功");
  EXPECT_EQ(stopped.text, "停止成功！");
  EXPECT_EQ(stopped.icon, QMessageBox::Information);

  // No points for a second: speed and timestamp fall back.
  EXPECT_TRUE(WaitFor([&] { return Label("rpmLabel") == "0 r/min" && Label("timestampLabel") == "-1 ms"; }, 3000));

  QTest::mouseClick(Button("connectButton"), Qt::LeftButton);
  EXPECT_EQ(Button("connectButton")->text(), "连接");
  EXPECT_TRUE(WidgetOf<QComboBox>(*window, "serialPortBox")->isEnabled());
  EXPECT_TRUE(WidgetOf<QComboBox>(*window, "baudrateBox")->isEnabled());
  EXPECT_TRUE(Button("refreshPortButton")->isEnabled());
  EXPECT_TRUE(window->statusBar()->currentMessage().isEmpty());

  // Connecting again clears the last scan from the view at once.
  const int liveBefore = log.liveFrames;
  Connect(link);
  EXPECT_TRUE(WaitFor([&] { return log.emptyFrames == 2; }, 2000));
  EXPECT_EQ(log.liveFrames, liveBefore);
}

TEST_F(SessionTest, SurvivesAHangUpAndConnectsAgain) {
  {
    Sim sim({"--autostart", "--hangup-after", "300"});
    ASSERT_FALSE(sim.path.isEmpty());
    Connect(sim.path);
    ASSERT_TRUE(WaitLiveFrames(2));
    ASSERT_TRUE(WaitFor([&] { return !sim.Running(); }, 5000));
    // The window keeps working on its own: the worker notices the silence.
    EXPECT_TRUE(WaitFor([&] { return Label("rpmLabel") == "0 r/min"; }, 3000));
    EXPECT_EQ(Button("connectButton")->text(), "断开");
    QTest::mouseClick(Button("connectButton"), Qt::LeftButton);
    EXPECT_EQ(Button("connectButton")->text(), "连接");
  }
  Sim again({});
  ASSERT_FALSE(again.path.isEmpty());
  Connect(again.path);
  EXPECT_EQ(Click("enableLidarButton").text, "启动成功！");
  EXPECT_TRUE(WaitLiveFrames(3));
}

TEST_F(SessionTest, CorruptedFastStreamStillGivesFramesAndHonestCounts) {
  const QString stats = tmp.path() + "/stats.txt";
  Sim sim({"--baud", "460800", "--pps", "max", "--bad-crc-every", "37", "--garbage-every", "23", "--garbage-bytes",
           "11", "--stats-file", stats});
  ASSERT_FALSE(sim.path.isEmpty());
  Connect(sim.path, 2);
  EXPECT_EQ(Click("enableLidarButton").text, "启动成功！");
  ASSERT_TRUE(WaitLiveFrames(10));
  EXPECT_EQ(Click("disableLidarButton").text, "停止成功！");

  // Once the line is quiet, the simulator's counters and the status bar agree.
  const QRegularExpression health(QStringLiteral("CRC错误 (\\d+) · 丢弃字节 (\\d+)$"));
  std::map<QString, qulonglong> sent;
  QRegularExpressionMatch m;
  const bool agreed = WaitFor(
      [&] {
        sent = ReadCounters(stats);
        m = health.match(window->statusBar()->currentMessage());
        return m.hasMatch() && sent.count("bad_crc") && m.captured(1).toULongLong() == sent["bad_crc"] &&
               m.captured(2).toULongLong() == sent["garbage_bytes"];
      },
      4000);
  EXPECT_TRUE(agreed) << window->statusBar()->currentMessage().toStdString() << " vs bad_crc=" << sent["bad_crc"]
                      << " garbage_bytes=" << sent["garbage_bytes"];
  EXPECT_GT(sent["bad_crc"], 10u);
  EXPECT_GT(sent["garbage_bytes"], 100u);
}

TEST_F(SessionTest, StopAgainstASilentDeviceFailsWithinTheRetry) {
  Sim sim({"--no-ack"});
  ASSERT_FALSE(sim.path.isEmpty());
  Connect(sim.path);
  QElapsedTimer t;
  t.start();
  SeenBox stopped = Click("disableLidarButton");
  EXPECT_EQ(stopped.title, "错误");
  EXPECT_EQ(stopped.text, "停止失败！");
  EXPECT_LT(t.elapsed(), 4000);
  EXPECT_EQ(Button("connectButton")->text(), "断开");
}

// A file that refuses writes: the recording ends at once with a message,
// what reached the file stays, and the next recording starts clean.
TEST_F(SessionTest, WriteErrorsEndTheRecordingAndSaySo) {
  Sim sim({"--autostart"});
  ASSERT_FALSE(sim.path.isEmpty());
  Connect(sim.path);
  ASSERT_TRUE(WaitLiveFrames(1));
  QAction* save = ActionOf(*window, "actionSaveDataCSV");

  // A device that takes nothing: the header already fails.
  SeenBox failed;
  answer.Then(AcceptSaveDialog("/dev/full"));
  answer.Then(AnswerYes());
  answer.ThenBox(&failed);
  save->trigger();
  EXPECT_EQ(failed.title, "错误");
  EXPECT_EQ(failed.text, "写入保存文件失败！");
  EXPECT_EQ(failed.icon, QMessageBox::Critical);
  EXPECT_FALSE(window->IsSavingCsv());
  EXPECT_EQ(save->text(), "保存.csv");

  // A file that fills up while rows stream in: the worker notices.
  const QString full = tmp.path() + "/filling.csv";
  constexpr rlim_t kLimit = 32 * 1024;
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto oldHandler = signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
  rlimit small = old;
  small.rlim_cur = kLimit;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  SeenBox midway;
  answer.Then(AcceptSaveDialog(full));
  answer.ThenBox(&midway);
  save->trigger();
  EXPECT_TRUE(WaitFor([&] { return answer.Done(); }, 5000));
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(midway.title, "错误");
  EXPECT_EQ(midway.text, "写入保存文件失败！");
  EXPECT_FALSE(window->IsSavingCsv());
  EXPECT_EQ(save->text(), "保存.csv");
  QFile kept(full);
  ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
  const QByteArray content = kept.readAll();
  EXPECT_GT(content.size(), 16 * 1024);  // rows before the failure were kept
  EXPECT_LE(content.size(), static_cast<int>(kLimit));
  QList<QByteArray> lines = content.split('\n');
  lines.removeLast();  // the limit may cut the last row short
  ASSERT_FALSE(lines.isEmpty());
  EXPECT_EQ(lines.takeFirst(), "angle,dist,intensity");
  for (const QByteArray& line : lines)
    EXPECT_TRUE(kRow.match(QString::fromLatin1(line)).hasMatch()) << line.toStdString();

  const QString file = tmp.path() + "/after.csv";
  Record(file);
  EXPECT_TRUE(window->IsSavingCsv());
  EXPECT_TRUE(WaitFor([&] { return QFileInfo(file).size() > 4 * 1024; }, 5000));
  save->trigger();
  QFile f(file);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readLine(), QByteArray("angle,dist,intensity\n"));  // nothing left over from the failed ones
  int headers = 0;
  EXPECT_GT(CountRows(file, &headers), 100);
  EXPECT_EQ(headers, 1);
}

TEST_F(SessionTest, ClosingWhileConnectedAndRecordingKeepsEveryRow) {
  Sim sim({"--autostart"});
  ASSERT_FALSE(sim.path.isEmpty());
  Connect(sim.path);
  const QString file = tmp.path() + "/closing.csv";
  Record(file);
  ASSERT_TRUE(WaitFor([&] { return QFileInfo(file).size() > 16 * 1024; }, 5000));
  const qint64 seen = QFileInfo(file).size();
  window->close();
  window.reset();
  EXPECT_GE(QFileInfo(file).size(), seen);
  int headers = 0;
  EXPECT_GT(CountRows(file, &headers), 500);
  EXPECT_EQ(headers, 1);
  EXPECT_TRUE(sim.Running());  // the device side saw a clean close, not a crash
}

}  // namespace
