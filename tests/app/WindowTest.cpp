// The window without a sensor: its texts and start-up state in one table, its
// commands bound by name, its dialogs and their failures; and the program's
// command line.
#include <arpa/inet.h>
#include <pcl/io/pcd_io.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QInputDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMetaMethod>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <cmath>
#include <map>

#include "app/DiagnosisDock.h"
#include "app/FrameExport.h"
#include "app/Language.h"
#include "app/LinkHealth.h"
#include "app/ReplayCursor.h"
#include "app/StatusLine.h"
#include "tests/app/WindowDriver.h"
#include "viewer/vtkViewer.h"
// Last: it brings Xlib's macros.
#include "tests/support/ScreenPixels.h"

using namespace apptest;

namespace {

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  }
  void TearDown() override { EXPECT_TRUE(answer.Done()) << "a dialog the test expected never appeared"; }
  // What a click on a button says in its message box.
  QString Click(const char* button) {
    QString seen;
    answer.ThenBox(&seen);
    QTest::mouseClick(Find<QPushButton>(window, button), Qt::LeftButton);
    return seen;
  }
  OwnSettings settings;
  MainWindow window;
  ModalAnswerer answer;
};

TEST_F(WindowTest, StartsWithItsTextsAndDefaults) {
  QStringList shown;
  for (QAction* menu : window.menuBar()->actions()) {
    shown << menu->text();
    for (QAction* a : menu->menu()->actions())
      shown << a->text() + (a->isCheckable() ? (a->isChecked() ? "[x]" : "[ ]") : "");
  }
  for (const char* label : {"label_3", "rpmLabel", "label_5", "timestampLabel", "selectDistLabel", "selectAngleLabel",
                            "selectIntensityLabel", "connectButton"})
    shown << window.findChild<QWidget*>(label)->property("text").toString();
  auto* baud = Find<QComboBox>(window, "baudrateBox");
  for (int i = 0; i < baud->count(); ++i) shown << baud->itemText(i);
  shown << baud->currentText();
  EXPECT_EQ(
      shown.join(" ").toStdString(),
      "文件 保存.csv 保存当前帧… 保存原始数据…[ ]  打开录制… 关闭录制 显示 暂停[ ]  设置点云尺寸 余辉… 设置角度偏移 "
      "使能角度矫正[x] 使能滤波[ ] 使能距离补偿[ ] "
      "使能棱边滤波[ ] 使能水中噪点滤波[ ] 设置距离差极值阈值 设置滤波距离最小值 设置滤波距离最大值 设置滤波信号阈值 "
      "旋转方向  诊断[ ]  语言 / Language  恢复默认设置 转速： 0 r/min 时间戳： -1 ms 0 m 0 ° 0 连接 115200 230400 "
      "460800 "
      "230400");
  EXPECT_TRUE(Find<QAction>(window, "counterClockwiseRotationAction")->isChecked());

  // Each command slot is bound by name only: a renamed widget would leave it dead.
  int bound = 0;
  const QMetaObject* mo = window.metaObject();
  for (int i = mo->methodOffset(); i < mo->methodCount(); ++i) {
    const QString name = mo->method(i).name();
    if (!name.startsWith("on_")) continue;
    ++bound;
    QObject* target = window.findChild<QObject*>(name.mid(3, name.lastIndexOf('_') - 3));
    ASSERT_NE(target, nullptr) << name.toStdString();
    EXPECT_GE(target->metaObject()->indexOfSignal((name.mid(name.lastIndexOf('_') + 1) + "()").toLatin1()), 0);
  }
  EXPECT_EQ(bound, 18);
}

TEST_F(WindowTest, DialogsSetTheirValuesAndSwitchesFollowTheirMarks) {
  const struct {
    const char* action;
    QString title;
    double entered, stored;
    std::function<double()> read;
  } rows[] = {
      {"actionSetDiffThr", "设置距离差极值阈值", 87.25, 87.25, [&] { return window.CurrentSettings().diffThr; }},
      {"actionFilterMinRange", "设置滤波距离最小值", 250.75, 250,
       [&] { return window.CurrentSettings().filterMinRange; }},
      {"actionFilterMaxRange", "设置滤波距离最大值", -5, 0, [&] { return window.CurrentSettings().filterMaxRange; }},
      {"actionFilterIntnesityThr", "设置滤波信号阈值", 12.5, 12,
       [&] { return window.CurrentSettings().filterIntensityThr; }},
      {"actionAngleOffset", "设置角度偏移", -12.25, -12.25,
       [&] {
         float offset = 0;
         window.Protocol()->GetAngleOffset(&offset);
         return offset;
       }},
      {"actionSetPointSize", "设置点云尺寸", 11, 10,
       [&] { return Find<vtkViewer>(window, "viewerWidget")->pointSize; }},
      {"actionTrails", "余辉", 25, 20, [&] { return Find<vtkViewer>(window, "viewerWidget")->TrailLength(); }},
  };
  for (const auto& r : rows) {
    answer.Then([&](QWidget* w) {
      auto* d = qobject_cast<QInputDialog*>(w);
      ASSERT_NE(d, nullptr);
      EXPECT_EQ(d->windowTitle(), r.title);
      // Clamped to the dialog's range, as typing would be.
      if (d->inputMode() == QInputDialog::IntInput)
        d->setIntValue(static_cast<int>(r.entered));
      else
        d->setDoubleValue(r.entered);
      d->accept();
    });
    Find<QAction>(window, r.action)->trigger();
    EXPECT_DOUBLE_EQ(r.read(), r.stored) << r.action;
  }
  for (auto [action, member] : {std::pair{"actionAlgoFilter", &ScanSettings::enableAlgoFilter},
                                {"actionEnableAngleCalib", &ScanSettings::enableAngleCalib},
                                {"actionEnableDistCorrect", &ScanSettings::enableDistCorrect},
                                {"actionEnableAngleEdgeFilter", &ScanSettings::enableAngleEdgeFilter},
                                {"actionEnableWaterNoiseFilter", &ScanSettings::enableWaterNoiseFilter}}) {
    Find<QAction>(window, action)->trigger();
    EXPECT_EQ(window.CurrentSettings().*member, Find<QAction>(window, action)->isChecked()) << action;
  }
  Find<QAction>(window, "clockwiseRotationAction")->trigger();
  EXPECT_FALSE(Find<QAction>(window, "counterClockwiseRotationAction")->isChecked());
  EXPECT_EQ(Find<vtkViewer>(window, "viewerWidget")->rotationSign, -1);
}

// Space holds at once, not typed into the port box; with no link the note stands alone.
TEST_F(WindowTest, SpaceHoldsFromTheStart) {
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
  EXPECT_EQ(Find<QAction>(window, "actionHold")->text() + window.statusBar()->currentMessage(), "继续画面已暂停");
}

// Connecting runs beside the event loop: the window says it is connecting and
// keeps its controls still meanwhile; a failure gives the usual box with the
// reason beside it, and the status line keeps it. A malformed address is
// refused at once. The full-backlog listener holds a network connect until
// its timeout.
TEST_F(WindowTest, ConnectingLeavesTheWindowFreeAndAFailureSaysWhy) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0), filler = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof at;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&at), size) | listen(listener, 0) |
                getsockname(listener, reinterpret_cast<sockaddr*>(&at), &size) |
                ::connect(filler, reinterpret_cast<sockaddr*>(&at), size),
            0);
  const QString busy = "tcp://127.0.0.1:" + QString::number(ntohs(at.sin_port));
  auto* button = Find<QPushButton>(window, "connectButton");
  auto* port = Find<QComboBox>(window, "serialPortBox");
  const struct {
    QString address, reason;
    bool atOnce;
  } rows[] = {{"/dev/no-such-lds-port", "No such file or directory", false},
              {busy, "", false},  // any reason, as long as one is given
              {"tcp://127.0.0.1", "no port after the host in", true}};
  for (const auto& [address, reason, atOnce] : rows) {
    QString seen;
    answer.Then([&seen](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      seen = box->windowTitle() + "|" + box->text() + "|" + box->informativeText();
      box->accept();
    });
    port->setEditText(address);
    button->click();
    if (!atOnce) {
      EXPECT_EQ(window.statusBar()->currentMessage(), "正在连接 " + address + "…");
      EXPECT_FALSE(button->isEnabled() || port->isEnabled());
    }
    EXPECT_TRUE(WaitFor([&] { return answer.Done() && !seen.isEmpty(); }, 10000)) << address.toStdString();
    EXPECT_TRUE(seen.startsWith("错误|连接设备失败！|" + reason) && !seen.endsWith("|")) << seen.toStdString();
    EXPECT_TRUE(window.statusBar()->currentMessage().startsWith("连接 " + address + " 失败：" + reason));
    EXPECT_TRUE(button->isEnabled() && port->isEnabled() && button->text() == "连接");
  }
  close(filler), close(listener);
}

TEST_F(WindowTest, CommandsWithoutADeviceOrFileFailAndSaySo) {
  EXPECT_EQ(Click("enableLidarButton"), "错误|启动失败！");
  EXPECT_EQ(Click("disableLidarButton"), "错误|停止失败！");

  QTemporaryDir tmp;
  QAction* save = Find<QAction>(window, "actionSaveDataCSV");
  QString seen;
  answer.Then([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
  answer.ThenBox(&seen);
  save->trigger();
  EXPECT_EQ(seen, "提示|未选择保存路径！");
  answer.ThenSave(tmp.path() + "/a/b/scan.csv");  // only one missing level is made
  answer.ThenBox(&seen);
  save->trigger();
  EXPECT_EQ(seen, "错误|打开保存文件失败！");
  EXPECT_EQ(save->text(), "保存.csv");
  EXPECT_EQ(window.statusBar()->currentMessage(),
            "无法打开 " + tmp.path() + "/a/b/scan.csv：No such file or directory");
}

// 保存当前帧 on a held view: the PCD holds the held revolution's filled slots, the
// PNG is what the display shows; a failed write says so and leaves no file behind.
TEST_F(WindowTest, SavesTheHeldFrameAsPcdAndPng) {
  auto* view = Find<vtkViewer>(window, "viewerWidget");
  std::vector<KXScanPoint> held(600), later(600, KXScanPoint{12.0f, 3000, 50});
  held[10] = KXScanPoint{90.0f, 1500, 90}, held[300] = KXScanPoint{180.0f, 2500, 200};
  view->SetTrailLength(2);
  view->slotShowDeviceData(later);
  view->slotShowDeviceData(held);
  Find<QAction>(window, "actionHold")->trigger();
  view->slotShowDeviceData(later);

  QTemporaryDir tmp;
  QAction* save = Find<QAction>(window, "actionSaveFrame");
  answer.ThenSave(tmp.path() + "/frame.pcd");
  save->trigger();
  pcl::PointCloud<pcl::PointXYZI> cloud;
  ASSERT_EQ(pcl::io::loadPCDFile(tmp.path().toStdString() + "/frame.pcd", cloud), 0);
  ASSERT_EQ(cloud.size(), 2u);
  EXPECT_TRUE(std::abs(cloud[0].y - 1.5f) < 1e-5f && std::abs(cloud[1].x + 2.5f) < 1e-5f && cloud[1].intensity == 200);
  EXPECT_EQ(window.SaveDir(), tmp.path());

  answer.ThenSave(tmp.path() + "/view.png");
  save->trigger();
  const QImage png(tmp.path() + "/view.png");
  EXPECT_EQ(png.convertToFormat(QImage::Format_RGB32), ScreenPixels(Find<QWidget>(*view, "viewer")));

  answer.ThenSave(tmp.path() + "/plain");  // no ending: the first file type, PCD
  save->trigger();
  QString seen;
  answer.ThenSave("/proc/frame.pcd");  // no file can be made there, even by root
  answer.ThenBox(&seen);
  save->trigger();
  EXPECT_EQ(seen, "错误|写入保存文件失败！");
  EXPECT_EQ(window.SaveDir(), tmp.path());
  // Written in full, but the name is taken by a folder: the temporary goes too.
  ASSERT_TRUE(QDir(tmp.path()).mkdir("taken.png"));
  EXPECT_FALSE(FrameExport::WritePng(tmp.path() + "/taken.png", png, &seen));
  EXPECT_FALSE(FrameExport::WritePng(tmp.path() + "/blank.png", QImage(), &seen));  // the write itself fails
  EXPECT_EQ(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).join(" "),
            "frame.pcd plain.pcd taken.png view.png");
}

// The settings a window shows: check marks (hold too), what the worker reads, the view, baud rate and folder.
QString Shown(MainWindow& w) {
  const ScanSettings s = w.CurrentSettings();
  float offset = 0;
  w.Protocol()->GetAngleOffset(&offset);
  auto* view = Find<vtkViewer>(w, "viewerWidget");
  QString out;
  for (QAction* a : Find<QMenu>(w, "menu")->actions() + Find<QMenu>(w, "menu_3")->actions())
    if (a->isCheckable()) out += QString::number(a->isChecked());
  for (double v : {0. + s.enableAngleCalib, 0. + s.enableAlgoFilter, 0. + s.enableDistCorrect,
                   0. + s.enableAngleEdgeFilter, 0. + s.enableWaterNoiseFilter, s.diffThr, 0. + s.filterMinRange,
                   0. + s.filterMaxRange, 0. + s.filterIntensityThr, 0. + offset, 0. + view->pointSize,
                   0. + view->rotationSign, 0. + view->TrailLength()})
    out += " " + QString::number(v);
  return out + " " + Find<QComboBox>(w, "baudrateBox")->currentText() + " " + QDir(w.SaveDir()).dirName();
}

TEST(SettingsTest, KeptBetweenStartsCheckedFieldByFieldAndRestored) {
  OwnSettings settings;
  ModalAnswerer answer;
  const QString first = Shown(*std::make_unique<MainWindow>()), cwd = QDir::current().dirName();
  EXPECT_EQ(first, "010000001 1 0 0 0 0 120 300 1500 40 0 3 1 1 230400 " + cwd);

  // A damaged file: each bad value falls back alone, and closing rewrites it clean.
  QFile file(settings.dir.path() + "/lds-tool/lds-tool.conf");
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_FALSE(file.readAll().contains("language"));  // none chosen: the locale still decides
  file.close();
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(QByteArray("\xff\xfe\0\x01[[garbage\nlanguage=en\nobsolete=1\n", 37) +
             "[link]\nport=/dev/ttyLDS\nbaud=9600\n[view]\npointSize=11\ntrails=21\nrotation=clockwise\n"
             "[scan]\nangleCalib=maybe\n"
             "pointFilter=true\ndistCorrect=true\nedgeFilter=true\nwaterNoiseFilter=true\ndiffThr=87.5\nminRange=250\n"
             "maxRange=2000\nintensityThr=12\nangleOffset=1e9\n[file]\nsaveDir=/no/such/dir\n");
  file.close();
  {
    MainWindow w;
    EXPECT_EQ(Shown(w), "011111010 1 1 1 1 1 87.5 250 2000 12 0 3 -1 1 230400 " + cwd);
    Find<QAction>(w, "actionEnableAngleCalib")->trigger();
    Find<vtkViewer>(w, "viewerWidget")->SetPointSize(6);
    Find<vtkViewer>(w, "viewerWidget")->SetTrailLength(8);
    w.Protocol()->SetAngleOffset(-12.25);
    Find<QComboBox>(w, "baudrateBox")->setCurrentIndex(2);
    answer.ThenSave(settings.dir.path() + "/csv/scan.csv");
    Find<QAction>(w, "actionSaveDataCSV")->trigger();
    Find<QAction>(w, "actionSaveDataCSV")->trigger();  // stops the recording
  }
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray saved = file.readAll();
  EXPECT_TRUE(saved.contains("language=en"));
  for (const char* bad : {"\xff", "garbage", "obsolete", "9600", "=11", "=21", "maybe", "1e9", "/no/such"})
    EXPECT_FALSE(saved.contains(bad)) << bad;
  MainWindow again;
  EXPECT_EQ(Shown(again), "001111010 0 1 1 1 1 87.5 250 2000 12 -12.25 6 -1 8 460800 csv");
  EXPECT_EQ(Find<QComboBox>(again, "serialPortBox")->currentText(), "/dev/ttyLDS");

  // Restoring asks first; cancelled, it changes nothing.
  const QString before = Shown(again);
  answer.Then([](QWidget* w) { qobject_cast<QMessageBox*>(w)->button(QMessageBox::Cancel)->click(); });
  Find<QAction>(again, "actionRestoreDefaults")->trigger();
  EXPECT_EQ(Shown(again), before);
  QString question;
  answer.ThenBox(&question);
  Find<QAction>(again, "actionRestoreDefaults")->trigger();
  EXPECT_EQ(question, "恢复默认设置|把语言以外的所有设置恢复为首次启动时的状态？");
  EXPECT_EQ(Shown(again), first);
  EXPECT_EQ(Shown(*std::make_unique<MainWindow>()), first);  // saved at once
}

// Language choice with its own settings file and locale, both put back after.
class LanguageTest : public ::testing::Test {
 protected:
  void TearDown() override { qputenv("LC_ALL", savedLocale); }
  QString Buttons(QWidget* dialog) {
    QStringList texts;
    for (QAbstractButton* b : dialog->findChild<QDialogButtonBox*>()->buttons()) texts << b->text();
    return texts.join(" ");
  }
  OwnSettings settings;
  QByteArray savedLocale = qgetenv("LC_ALL");
  ModalAnswerer answer;
};

TEST_F(LanguageTest, SaveDialogSpeaksChineseByDefault) {
  qputenv("LC_ALL", "C.UTF-8");
  const Translators chosen(ChooseLanguage(QString()));
  MainWindow window;
  QString buttons, seen;
  answer.Then([&](QWidget* w) {
    buttons = Buttons(w);
    qobject_cast<QDialog*>(w)->reject();
  });
  answer.ThenBox(&seen);
  Find<QAction>(window, "actionSaveDataCSV")->trigger();
  EXPECT_EQ(buttons, "保存(&S) 取消");
}

TEST_F(LanguageTest, EnglishWindowAndTheChoiceOfLanguage) {
  const Translators english(Language::English);
  MainWindow window;
  QStringList shown;
  for (const char* menu : {"menu_2", "menu", "menu_3", "languageMenu"})
    for (QAction* a : Find<QMenu>(window, menu)->actions().mid(0, 2)) shown << a->text();
  for (const char* widget : {"groupBox", "label_3", "connectButton"})
    shown << Find(window, widget)->property("text").toString() + Find(window, widget)->property("title").toString();
  shown << LinkHealth::Format(4500, 375, 1, 2);
  answer.Then([&](QWidget* w) {
    shown << w->windowTitle() + "|" + qobject_cast<QInputDialog*>(w)->labelText() + "|" + Buttons(w);
    qobject_cast<QDialog*>(w)->reject();
  });
  Find<QAction>(window, "actionSetDiffThr")->trigger();
  EXPECT_EQ(shown.join("; "),
            "Save .csv; Save the frame shown…; Hold; ; Clockwise; Counter-clockwise; 中文; English; Connection; "
            "Speed:; Connect; 4500 points/s · 375 packets/s · CRC errors 1 · skipped bytes 2; "
            "Set distance-difference threshold|Value|OK Cancel");
  EXPECT_TRUE(Find<QAction>(window, "actionLanguageEnglish")->isChecked());

  // The menu's choice is saved; --lang wins over it, and it over the locale.
  qputenv("LC_ALL", "en_GB.UTF-8");
  EXPECT_EQ(ChooseLanguage(QString()), Language::English);
  Find<QAction>(window, "actionLanguageChinese")->trigger();
  EXPECT_EQ(window.statusBar()->currentMessage(), "界面语言：中文（下次启动时生效）");
  EXPECT_EQ(ChooseLanguage(QString()), Language::Chinese);
  EXPECT_EQ(ChooseLanguage("en"), Language::English);
  qputenv("LC_ALL", "C.UTF-8");
  Find<QAction>(window, "actionLanguageEnglish")->trigger();
  EXPECT_EQ(ChooseLanguage(QString()), Language::English);
}

TEST(ProgramTest, CommandLineAndMissingDisplay) {
  const struct {
    QStringList args;
    int status;
    QString output;
  } rows[] = {
      {{"--help"}, 0, "LC_ALL, LC_MESSAGES and LANG that is set starts with \"en\", Chinese otherwise"},
      {{"--lang", "fr"}, 2, "invalid language 'fr' (zh or en)"},
      {{"--bogus"}, 2, "unknown option '--bogus'"},
      {{"--baud", "12345", "--port", "/x"}, 2, "invalid baud rate '12345'"},
      {{"--port", "/x", "--port", "/y"}, 2, "--port given twice"},
      {{"--connect"}, 2, "--connect needs --port"},
      {{"--port", "tcp://[::1]"}, 2, "invalid port 'tcp://[::1]': no port after the host"},
      // Qt's reason follows the summary.
      {{},
       1,
       "no display to show the window on (DISPLAY=); lds-record records without one.\n  could not connect to display"},
  };
  for (const auto& r : rows) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");  // every row but the last ends before a display is needed
    p.setProcessEnvironment(env);
    p.start(LDS_TOOL_PATH, r.args);
    ASSERT_TRUE(p.waitForFinished(10000)) << r.args.join(' ').toStdString();
    EXPECT_EQ(p.exitCode(), r.status) << r.args.join(' ').toStdString();
    EXPECT_TRUE(QString(p.readAllStandardOutput() + p.readAllStandardError()).contains(r.output))
        << r.args.join(' ').toStdString();
  }
}

}  // namespace

namespace {

// The worker's part, played in step: each feed is one batch.
struct Consumer {
  Consumer() { settings.enableAlgoFilter = true; }
  void Restart() {
    protocol.ResetReceiver();
    shown = assembler.Reset();
  }
  // Files what was fed; a completed frame is kept under the revolution reached.
  void Take(int revolution) {
    FrameAssembler::Result r = assembler.Step(protocol.TakeScanPoints(), settings, false);
    if (r.frameReady) shown = frames[revolution] = r.frame;
  }
  // Plays until the cursor rests.
  void Run(ReplayCursor& cursor) {
    while (cursor.Busy()) {
      cursor.Feed(protocol, 0);
      Take(cursor.Revolution());
    }
  }
  KXProtocol protocol;
  ScanFilter filter;
  FrameAssembler assembler{filter};
  ScanSettings settings;
  std::vector<KXScanPoint> shown;
  std::map<int, std::vector<KXScanPoint>> frames;
};

// The replay's feeds give the frames of a worker that takes every packet on
// its own; a jump to revolution k, back or ahead, from rest or mid-turn,
// shows the frame a linear play shows there.
TEST(ReplayCursorTest, ASeekShowsTheFrameOfALinearPlay) {
  testing::internal::CaptureStdout();  // the decoder's CRC reports
  const std::vector<uint8_t> recording = RoomRecording(13);
  Consumer packetwise;
  RawReplay reader;
  reader.Load(recording);
  while (!reader.AtEnd()) {
    reader.PlayPackets(1, packetwise.protocol);
    packetwise.Take(reader.Revolution());
  }
  ASSERT_EQ(packetwise.frames.size(), 13u);  // the partial first one too
  ReplayCursor linear, jumping;
  linear.Load(recording);
  jumping.Load(recording);
  Consumer a, b;
  linear.Play(true, 0);
  a.Run(linear);
  EXPECT_TRUE(a.frames == packetwise.frames);
  EXPECT_TRUE(linear.AtEnd() && !linear.Playing());

  for (int k : {7, 3, 4, 6, 1, 12, 2, 2, 11}) {
    if (jumping.SeekTo(k)) b.Restart();
    b.Run(jumping);
    EXPECT_EQ(jumping.Revolution(), k);
    EXPECT_TRUE(b.shown == packetwise.frames.at(k)) << "revolution " << k;
    jumping.Play(true, 0);  // a few packets on, then a jump from mid-turn
    jumping.Feed(b.protocol, 0);
    jumping.Pause();
  }
  EXPECT_TRUE(jumping.SeekTo(0));  // back to the beginning, from part-way into the first revolution too
  jumping.Play(true, 0);
  jumping.Feed(b.protocol, 0);
  EXPECT_TRUE(jumping.SeekTo(0) && jumping.TimeMs() == 0);
  testing::internal::GetCapturedStdout();
}

// The plots hold one source at a time; their time ticks are whole and even,
// counts have whole ticks, and a line breaks where its data stopped or a
// replay jumped.
TEST(DiagnosisDockTest, EvenTicksWholeCountsAndBrokenLines) {
  DiagnosisDock dock;
  dock.StartSource("/dev/ttyLDS");
  EXPECT_EQ(Find<QLabel>(dock, "diagnosisSource")->text(), "数据来源：/dev/ttyLDS");
  const int64_t start = MonotonicMs();
  auto revolutions = [&](int64_t from, int n) {
    for (int k = 0; k < n; ++k) {
      RevolutionFigures f;
      f.timeMs = from + 100 * k, f.speedRpm = 600, f.points = 450 + k % 2, f.emptyPoints = k % 3;
      dock.AddRevolution(f);
    }
  };
  KXLinkStats link;
  for (int64_t t : {0, 1000, 2000, 3000, 8000, 9000, 10000}) {  // quiet from 3 s to 8 s
    link.packets += 375, link.crcErrors += t < 5000 ? 1 : 0;
    dock.AddLinkSample(link, start + t);
  }
  revolutions(start, 20);
  revolutions(start + 5000, 20);  // after 3 s without a revolution
  dock.BreakLines();              // a replay jumped
  revolutions(start + 7000, 20);
  dock.Refresh();
  auto lines = [&](const char* plot) {
    int drawn = 0;
    for (QtCharts::QAbstractSeries* series : Find<QtCharts::QChartView>(dock, plot)->chart()->series())
      drawn += static_cast<QtCharts::QLineSeries*>(series)->count() > 0;
    return drawn;
  };
  EXPECT_EQ(lines("speedPlot"), 3);
  EXPECT_EQ(lines("pointsPlot"), 6);
  EXPECT_EQ(lines("packetsPlot"), 4);
  // Whole counts (0 to 2 empty points, 0 or 1 CRC error a second) on whole ticks from 0.
  for (const char* plot : {"pointsPlot", "packetsPlot", "skippedPlot"})
    for (QtCharts::QAbstractAxis* a : Find<QtCharts::QChartView>(dock, plot)->chart()->axes(Qt::Vertical)) {
      auto* axis = static_cast<QtCharts::QValueAxis*>(a);
      EXPECT_TRUE(axis->tickType() == QtCharts::QValueAxis::TicksDynamic && axis->min() == 0 &&
                  axis->tickInterval() >= 1 && std::fmod(axis->tickInterval(), 1.0) == 0 &&
                  std::fmod(axis->max(), axis->tickInterval()) == 0)
          << plot << " " << axis->max() << " by " << axis->tickInterval();
    }
  auto* spans = Find<QComboBox>(dock, "spanBox");
  for (int i = 0; i < spans->count(); ++i) {  // from -span to 0 in whole, even steps, at most six
    spans->setCurrentIndex(i);
    auto* time = static_cast<QtCharts::QValueAxis*>(
        Find<QtCharts::QChartView>(dock, "speedPlot")->chart()->axes(Qt::Horizontal).value(0));
    const double step = time->tickInterval(), span = -time->min();
    EXPECT_TRUE(time->tickType() == QtCharts::QValueAxis::TicksDynamic && std::fmod(step, 1.0) == 0 &&
                std::fmod(span, step) == 0 && span / step <= 6)
        << span << " by " << step;
  }

  dock.StartSource("replay.raw");
  revolutions(start - 1000, 5);  // measured before the switch, late to arrive
  EXPECT_EQ(dock.RevolutionsKept() + dock.SecondsKept(), 0u);
}

}  // namespace
