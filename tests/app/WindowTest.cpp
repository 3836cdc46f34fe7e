// The window without a sensor: its texts and start-up state in one table, its
// commands bound by name, its dialogs and their failures.
#include <arpa/inet.h>
#include <pcl/io/pcd_io.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QComboBox>
#include <QDir>
#include <QInputDialog>
#include <QMenuBar>
#include <QMetaMethod>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include "app/FrameExport.h"
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

}  // namespace
