// The window without a device: its start-up state, the binding of its slots,
// the value dialogs, the switches and the CSV command's failure paths.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMetaMethod>
#include <QSerialPortInfo>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include "app/LinkHealth.h"
#include "tests/app/WindowDriver.h"
#include "viewer/vtkViewer.h"

using namespace apptest;

namespace {

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_unique<MainWindow>();
    window->setWindowTitle(MainWindow::kWindowTitle);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }
  void TearDown() override {
    window.reset();
    EXPECT_TRUE(answer.Done()) << "a dialog the test expected never appeared";
  }
  QString Text(const char* label) { return WidgetOf<QLabel>(*window, label)->text(); }

  std::unique_ptr<MainWindow> window;
  ModalAnswerer answer;
};

TEST_F(WindowTest, StartsWithTheDefaultStateOfEveryControl) {
  EXPECT_EQ(window->windowTitle(), "Kestrix Pelto LDS Tool-std.0.2.0");

  auto* baud = WidgetOf<QComboBox>(*window, "baudrateBox");
  ASSERT_NE(baud, nullptr);
  ASSERT_EQ(baud->count(), 3);
  EXPECT_EQ(baud->itemText(0), "115200");
  EXPECT_EQ(baud->itemText(1), "230400");
  EXPECT_EQ(baud->itemText(2), "460800");
  EXPECT_EQ(baud->currentText(), "230400");
  // The port list holds full device paths, in the order the system gives them.
  auto* ports = WidgetOf<QComboBox>(*window, "serialPortBox");
  EXPECT_TRUE(ports->isEditable());
  const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
  ASSERT_EQ(ports->count(), infos.size());
  for (int i = 0; i < infos.size(); ++i) EXPECT_EQ(ports->itemText(i), infos[i].systemLocation());
  EXPECT_EQ(ports->currentText(), infos.isEmpty() ? QString() : infos[0].systemLocation());
  EXPECT_EQ(WidgetOf<QPushButton>(*window, "connectButton")->text(), "连接");

  const std::pair<const char*, bool> checkable[] = {
      {"actionEnableAngleCalib", true},         {"actionAlgoFilter", false},
      {"actionEnableDistCorrect", false},       {"actionEnableAngleEdgeFilter", false},
      {"actionEnableWaterNoiseFilter", false},  {"clockwiseRotationAction", false},
      {"counterClockwiseRotationAction", true},
  };
  for (const auto& [name, checked] : checkable) {
    QAction* a = ActionOf(*window, name);
    ASSERT_NE(a, nullptr) << name;
    EXPECT_TRUE(a->isCheckable()) << name;
    EXPECT_EQ(a->isChecked(), checked) << name;
  }
  const ScanSettings s = window->CurrentSettings();
  EXPECT_TRUE(s.enableAngleCalib);
  EXPECT_FALSE(s.enableAlgoFilter || s.enableDistCorrect || s.enableAngleEdgeFilter || s.enableWaterNoiseFilter);
  EXPECT_EQ(s.diffThr, 120.0);
  EXPECT_EQ(s.filterMinRange, 300);
  EXPECT_EQ(s.filterMaxRange, 1500);
  EXPECT_EQ(s.filterIntensityThr, 40);
  EXPECT_EQ(window->SaveDir(), QDir::currentPath());

  EXPECT_EQ(Text("rpmLabel"), "0 r/min");
  EXPECT_EQ(Text("timestampLabel"), "-1 ms");
  EXPECT_EQ(Text("selectDistLabel"), "0 m");
  EXPECT_EQ(Text("selectAngleLabel"), "0 \u00B0");
  EXPECT_EQ(Text("selectIntensityLabel"), "0");
  EXPECT_EQ(Text("label_3"), "转速：");
  EXPECT_EQ(Text("label_5"), "时间戳：");

  for (const char* name : {"serialPortBox", "label", "baudrateBox", "connectButton", "label_2", "refreshPortButton",
                           "enableLidarButton", "disableLidarButton", "groupBox_3", "rpmLabel", "label_7"}) {
    QWidget* w = window->findChild<QWidget*>(name);
    ASSERT_NE(w, nullptr) << name;
    EXPECT_EQ(w->font().pointSize(), 12) << name;
  }
  for (const char* name : {"groupBox", "groupBox_2", "viewerWidget"}) {
    EXPECT_NE(window->findChild<QWidget*>(name)->font().pointSize(), 12) << name;
  }
  EXPECT_EQ(window->findChild<QGroupBox*>("groupBox")->title(), "连接");
  EXPECT_EQ(window->findChild<QGroupBox*>("groupBox_2")->title(), "显示");
  EXPECT_EQ(window->findChild<QGroupBox*>("groupBox_3")->title(), "信息");
}

TEST_F(WindowTest, MenusHoldTheirActionsInOrder) {
  QList<QAction*> bar = window->menuBar()->actions();
  ASSERT_EQ(bar.size(), 2);
  EXPECT_EQ(bar[0]->text(), "文件");
  EXPECT_EQ(bar[1]->text(), "显示");

  QList<QAction*> file = bar[0]->menu()->actions();
  ASSERT_EQ(file.size(), 1);
  EXPECT_EQ(file[0]->objectName(), "actionSaveDataCSV");
  EXPECT_EQ(file[0]->text(), "保存.csv");

  const QStringList expected = {"设置点云尺寸",       "设置角度偏移",       "使能角度矫正",     "使能滤波",
                                "使能距离补偿",       "使能棱边滤波",       "使能水中噪点滤波", "设置距离差极值阈值",
                                "设置滤波距离最小值", "设置滤波距离最大值", "设置滤波信号阈值", "旋转方向"};
  QList<QAction*> show = bar[1]->menu()->actions();
  ASSERT_EQ(show.size(), expected.size());
  for (int i = 0; i < show.size(); ++i) {
    EXPECT_FALSE(show[i]->isSeparator());
    EXPECT_EQ(show[i]->text(), expected[i]) << i;
  }
  QMenu* rotation = show.last()->menu();
  ASSERT_NE(rotation, nullptr);
  EXPECT_EQ(rotation->objectName(), "menu_3");
  ASSERT_EQ(rotation->actions().size(), 2);
  EXPECT_EQ(rotation->actions()[0]->text(), "顺时针");
  EXPECT_EQ(rotation->actions()[1]->text(), "逆时针");
}

// Each slot is bound by name only; a renamed widget or action would leave its
// command silently dead.
TEST_F(WindowTest, EverySlotHasAnObjectWithThatNameAndSignal) {
  const QMetaObject* mo = window->metaObject();
  EXPECT_STREQ(mo->className(), "MainWindow");
  int slotCount = 0;
  for (int i = mo->methodOffset(); i < mo->methodCount(); ++i) {
    const QMetaMethod m = mo->method(i);
    const QString name = QString::fromLatin1(m.name());
    if (!name.startsWith("on_")) continue;
    ++slotCount;
    EXPECT_EQ(m.methodType(), QMetaMethod::Slot) << name.toStdString();
    EXPECT_EQ(m.parameterCount(), 0) << name.toStdString();
    const int split = name.lastIndexOf('_');
    const QString object = name.mid(3, split - 3);
    const QString signal = name.mid(split + 1) + "()";
    QObject* target = window->findChild<QObject*>(object);
    ASSERT_NE(target, nullptr) << "no object named " << object.toStdString();
    EXPECT_GE(target->metaObject()->indexOfSignal(signal.toLatin1().constData()), 0)
        << object.toStdString() << " has no signal " << signal.toStdString();
  }
  EXPECT_EQ(slotCount, 18);
  EXPECT_GE(mo->indexOfSignal("signalScanFrame(std::vector<KXScanPoint>)"), 0);
  EXPECT_NE(QMetaType::type("std::vector<KXScanPoint>"), 0);
}

TEST_F(WindowTest, ValueDialogsShowTheirRangeAndStoreTruncatedValues) {
  struct Case {
    const char* action;
    const char* title;
    const char* label;
    double initial, min, max, entered;
    std::function<double()> stored;
  };
  MainWindow* w = window.get();
  const Case cases[] = {
      {"actionSetDiffThr", "设置距离差极值阈值", "Value", 120, 0, 10000, 87.25,
       [w] { return w->CurrentSettings().diffThr; }},
      {"actionFilterMinRange", "设置滤波距离最小值", "Value", 300, 0, 10000, 250.75,
       [w] { return w->CurrentSettings().filterMinRange; }},
      {"actionFilterMaxRange", "设置滤波距离最大值", "Value", 1500, 0, 10000, 1500.99,
       [w] { return w->CurrentSettings().filterMaxRange; }},
      {"actionFilterIntnesityThr", "设置滤波信号阈值", "Value", 40, 0, 10000, 12.5,
       [w] { return w->CurrentSettings().filterIntensityThr; }},
      {"actionAngleOffset", "设置角度偏移", "offset(°)", 0, -360, 360, -12.34,
       [w] {
         float offset = 0;
         w->Protocol()->GetAngleOffset(&offset);
         return static_cast<double>(offset);
       }},
  };
  const double expected[] = {87.25, 250, 1500, 12, -12.34f};
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.action);
    // First cancel: nothing changes.
    const double before = c.stored();
    answer.Then(RejectDialog());
    ActionOf(*window, c.action)->trigger();
    EXPECT_EQ(c.stored(), before);

    answer.Then([&c](QWidget* widget) {
      auto* d = qobject_cast<QInputDialog*>(widget);
      ASSERT_NE(d, nullptr);
      EXPECT_EQ(d->windowTitle(), c.title);
      EXPECT_EQ(d->labelText(), c.label);
      EXPECT_EQ(d->inputMode(), QInputDialog::DoubleInput);
      EXPECT_EQ(d->doubleDecimals(), 2);
      EXPECT_DOUBLE_EQ(d->doubleMinimum(), c.min);
      EXPECT_DOUBLE_EQ(d->doubleMaximum(), c.max);
      EXPECT_DOUBLE_EQ(d->doubleValue(), c.initial);
      d->setDoubleValue(c.entered);
      d->accept();
    });
    ActionOf(*window, c.action)->trigger();
    EXPECT_DOUBLE_EQ(c.stored(), expected[i]);
  }
  // Below the minimum is impossible: the dialog clamps it.
  answer.Then([](QWidget* widget) {
    auto* d = qobject_cast<QInputDialog*>(widget);
    ASSERT_NE(d, nullptr);
    d->setDoubleValue(-0.5);
    d->accept();
  });
  ActionOf(*window, "actionFilterMaxRange")->trigger();
  EXPECT_EQ(window->CurrentSettings().filterMaxRange, 0);
}

TEST_F(WindowTest, PointSizeDialogOffersOneToTenAndCancelKeepsTheSize) {
  auto* viewer = WidgetOf<vtkViewer>(*window, "viewerWidget");
  ASSERT_NE(viewer, nullptr);
  EXPECT_EQ(viewer->pointSize, 3);
  answer.Then([](QWidget* widget) {
    auto* d = qobject_cast<QInputDialog*>(widget);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->windowTitle(), "设置点云尺寸");
    EXPECT_EQ(d->labelText(), "尺寸");
    EXPECT_EQ(d->inputMode(), QInputDialog::IntInput);
    // Qt adds the title and system-menu hints itself; what matters is a plain
    // dialog with a close button and neither help nor min/max buttons.
    const Qt::WindowFlags flags = d->windowFlags();
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Dialog);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowContextHelpButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinMaxButtonsHint);
    EXPECT_EQ(d->okButtonText(), "确定");
    EXPECT_EQ(d->cancelButtonText(), "取消");
    EXPECT_EQ(d->intMinimum(), 1);
    EXPECT_EQ(d->intMaximum(), 10);
    EXPECT_EQ(d->intStep(), 1);
    EXPECT_EQ(d->intValue(), 3);
    d->setIntValue(11);  // clamped to the range
    EXPECT_EQ(d->intValue(), 10);
    d->setIntValue(7);
    d->accept();
  });
  ActionOf(*window, "actionSetPointSize")->trigger();
  EXPECT_EQ(viewer->pointSize, 7);

  answer.Then([](QWidget* widget) {
    auto* d = qobject_cast<QInputDialog*>(widget);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->intValue(), 7);
    d->setIntValue(2);
    d->close();
  });
  ActionOf(*window, "actionSetPointSize")->trigger();
  EXPECT_EQ(viewer->pointSize, 7);
}

TEST_F(WindowTest, SwitchesAndRotationFollowTheirCheckMarks) {
  const std::pair<const char*, bool ScanSettings::*> switches[] = {
      {"actionEnableAngleCalib", &ScanSettings::enableAngleCalib},
      {"actionAlgoFilter", &ScanSettings::enableAlgoFilter},
      {"actionEnableDistCorrect", &ScanSettings::enableDistCorrect},
      {"actionEnableAngleEdgeFilter", &ScanSettings::enableAngleEdgeFilter},
      {"actionEnableWaterNoiseFilter", &ScanSettings::enableWaterNoiseFilter},
  };
  for (const auto& [name, member] : switches) {
    QAction* a = ActionOf(*window, name);
    const bool before = window->CurrentSettings().*member;
    a->trigger();
    EXPECT_EQ(a->isChecked(), !before) << name;
    EXPECT_EQ(window->CurrentSettings().*member, !before) << name;
    a->trigger();
    EXPECT_EQ(window->CurrentSettings().*member, before) << name;
  }

  auto* viewer = WidgetOf<vtkViewer>(*window, "viewerWidget");
  QAction* cw = ActionOf(*window, "clockwiseRotationAction");
  QAction* ccw = ActionOf(*window, "counterClockwiseRotationAction");
  cw->trigger();
  EXPECT_TRUE(cw->isChecked());
  EXPECT_FALSE(ccw->isChecked());
  EXPECT_EQ(viewer->rotationSign, -1);
  cw->trigger();  // already checked: stays checked
  EXPECT_TRUE(cw->isChecked());
  EXPECT_FALSE(ccw->isChecked());
  EXPECT_EQ(viewer->rotationSign, -1);
  ccw->trigger();
  EXPECT_FALSE(cw->isChecked());
  EXPECT_TRUE(ccw->isChecked());
  EXPECT_EQ(viewer->rotationSign, 1);
}

TEST_F(WindowTest, CommandsWithoutADeviceFailWithTheirMessages) {
  auto* connectButton = WidgetOf<QPushButton>(*window, "connectButton");
  auto* portBox = WidgetOf<QComboBox>(*window, "serialPortBox");
  for (const QString& port : {QString(), QString("/dev/no-such-lds-port")}) {
    portBox->setEditText(port);
    SeenBox seen;
    answer.ThenBox(&seen);
    QTest::mouseClick(connectButton, Qt::LeftButton);
    EXPECT_EQ(seen.title, "错误");
    EXPECT_EQ(seen.text, "连接设备失败！");
    EXPECT_EQ(seen.icon, QMessageBox::Warning);
    EXPECT_EQ(connectButton->text(), "连接");
    EXPECT_TRUE(portBox->isEnabled());
  }

  SeenBox start, stop;
  answer.ThenBox(&start);
  QTest::mouseClick(WidgetOf<QPushButton>(*window, "enableLidarButton"), Qt::LeftButton);
  EXPECT_EQ(start.title, "错误");
  EXPECT_EQ(start.text, "启动失败！");
  EXPECT_EQ(start.icon, QMessageBox::Warning);
  answer.ThenBox(&stop);
  QTest::mouseClick(WidgetOf<QPushButton>(*window, "disableLidarButton"), Qt::LeftButton);
  EXPECT_EQ(stop.text, "停止失败！");
  EXPECT_EQ(stop.icon, QMessageBox::Warning);
  EXPECT_TRUE(window->statusBar()->currentMessage().isEmpty());
}

TEST_F(WindowTest, SaveCommandHandlesCancelMissingDirectoriesAndAppends) {
  QTemporaryDir tmp;
  ASSERT_TRUE(tmp.isValid());
  QAction* save = ActionOf(*window, "actionSaveDataCSV");

  // Cancelled dialog: information box, nothing changes.
  const QString startDir = window->SaveDir();
  QString caption, directory;
  QStringList filters;
  SeenBox info;
  answer.Then([&](QWidget* w) {
    auto* dialog = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(dialog, nullptr);
    caption = dialog->windowTitle();
    filters = dialog->nameFilters();
    directory = dialog->directory().absolutePath();
    dialog->reject();
  });
  answer.ThenBox(&info);
  save->trigger();
  EXPECT_EQ(caption, "Save File");
  EXPECT_EQ(filters, QStringList{"CSV File (*.csv)"});
  EXPECT_EQ(directory, QDir(startDir).absolutePath());
  EXPECT_EQ(info.title, "提示");
  EXPECT_EQ(info.text, "未选择保存路径！");
  EXPECT_EQ(info.icon, QMessageBox::Information);
  EXPECT_EQ(window->SaveDir(), startDir);
  EXPECT_EQ(save->text(), "保存.csv");

  // Two missing levels: only one is ever created, so the open fails; the
  // next dialog still opens in the chosen directory.
  const QString deep = tmp.path() + "/a/b";
  SeenBox critical;
  answer.Then(AcceptSaveDialog(deep + "/scan.csv"));
  answer.ThenBox(&critical);
  save->trigger();
  EXPECT_EQ(critical.title, "错误");
  EXPECT_EQ(critical.text, "打开保存文件失败！");
  EXPECT_EQ(critical.icon, QMessageBox::Critical);
  EXPECT_EQ(window->SaveDir(), deep);
  EXPECT_FALSE(QDir(deep).exists());
  EXPECT_EQ(save->text(), "保存.csv");
  EXPECT_FALSE(window->IsSavingCsv());

  // One missing level is created; recording starts with the header.
  const QString file = tmp.path() + "/new/scan.csv";
  answer.Then(AcceptSaveDialog(file));
  save->trigger();
  EXPECT_EQ(save->text(), "停止保存.csv");
  EXPECT_TRUE(window->IsSavingCsv());
  EXPECT_EQ(window->SaveDir(), tmp.path() + "/new");
  save->trigger();  // stop
  EXPECT_EQ(save->text(), "保存.csv");
  EXPECT_FALSE(window->IsSavingCsv());

  // Choosing the same file again appends a second header after the old content.
  answer.Then(AcceptSaveDialog(file, nullptr, nullptr, &directory));
  answer.Then(AnswerYes());  // the dialog asks before "replacing" an existing file
  save->trigger();
  EXPECT_EQ(directory, tmp.path() + "/new");
  save->trigger();
  QFile f(file);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), QByteArray("angle,dist,intensity\nangle,dist,intensity\n"));
}

bool IsGrey(QRgb c, int level, int tolerance) {
  return std::abs(qRed(c) - level) <= tolerance && std::abs(qGreen(c) - level) <= tolerance &&
         std::abs(qBlue(c) - level) <= tolerance;
}

// The window as the operator sees it: the view's dark background and the
// axis line through its centre must survive the window's layout.
TEST_F(WindowTest, RenderedWindowShowsTheViewBackgroundAndAxis) {
  QTest::qWait(200);
  const QImage img = window->grab().toImage();
  ASSERT_FALSE(img.isNull());
  if (const char* out = getenv("LDS_SCREENSHOT")) img.save(QString::fromLocal8Bit(out));

  auto* viewer = WidgetOf<vtkViewer>(*window, "viewerWidget");
  const QRect view(viewer->mapTo(window.get(), QPoint(0, 0)), viewer->size());
  ASSERT_TRUE(img.rect().contains(view));
  EXPECT_TRUE(IsGrey(img.pixel(view.topLeft() + QPoint(4, 4)), 26, 3)) << std::hex << img.pixel(view.topLeft());
  EXPECT_TRUE(IsGrey(img.pixel(view.left() + view.width() / 4, view.bottom() - 4), 26, 3));

  // A grey column through the middle, below the centre (the axis labels sit above).
  const QPoint below = view.center() + QPoint(0, view.height() / 8);
  bool axis = false;
  for (int dx = -2; dx <= 2 && !axis; ++dx) axis = IsGrey(img.pixel(below.x() + dx, below.y()), 128, 24);
  EXPECT_TRUE(axis) << "no axis pixel near " << below.x() << "," << below.y();
  EXPECT_TRUE(IsGrey(img.pixel(below.x() + 8, below.y()), 26, 3));
  // The panel on the left is drawn by Qt, not by the view: not the view's grey.
  EXPECT_FALSE(IsGrey(img.pixel(4, img.height() / 2), 26, 3));
}

TEST(LinkHealthTest, RatesOverTheIntervalAndCountsSinceConnecting) {
  LinkHealth health;
  KXLinkStats s;
  s.packets = 1000;
  s.crcErrors = 7;
  s.skippedBytes = 99;
  EXPECT_TRUE(health.Sample(s, 0).isEmpty());  // not connected: nothing shown

  health.Start(s, 10'000);
  s.packets += 375;
  s.crcErrors += 2;
  s.skippedBytes += 16;
  EXPECT_EQ(health.Sample(s, 11'000), "4500 点/秒 · 375 包/秒 · CRC错误 2 · 丢弃字节 16");
  // A late timer tick: the rate is over the real interval.
  s.packets += 750;
  EXPECT_EQ(health.Sample(s, 13'000), "4500 点/秒 · 375 包/秒 · CRC错误 2 · 丢弃字节 16");
  // A silent line.
  EXPECT_EQ(health.Sample(s, 14'000), "0 点/秒 · 0 包/秒 · CRC错误 2 · 丢弃字节 16");
  health.Stop();
  EXPECT_TRUE(health.Sample(s, 15'000).isEmpty());
}

}  // namespace
