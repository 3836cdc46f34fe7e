// What the window keeps between starts, the language it speaks, and the
// program's command line.
#include <sys/mount.h>
#include <unistd.h>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QInputDialog>
#include <QMenu>
#include <QSettings>
#include <QStatusBar>
#include <QTest>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>

#include "app/Language.h"
#include "app/LinkHealth.h"
#include "tests/app/WindowDriver.h"
#include "viewer/vtkViewer.h"

using namespace apptest;

namespace {

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

// A full disk: a save fails with the system's reason on the status line, and
// the file keeps its bytes, on closing too. The disk is a small tmpfs.
TEST(SettingsTest, AFailedSaveKeepsTheFileAndSaysWhy) {
  OwnSettings settings;
  const QString folder = settings.dir.path() + "/lds-tool";
  ASSERT_TRUE(QDir().mkpath(folder));
  if (mount("tmpfs", qPrintable(folder), "tmpfs", 0, "size=16k") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs to fill (" << strerror(errno) << ")";
  const std::shared_ptr<void> unmount(nullptr, [&](void*) { umount2(qPrintable(folder), MNT_DETACH); });
  auto window = std::make_unique<MainWindow>();
  QAction* filter = Find<QAction>(*window, "actionAlgoFilter");
  filter->trigger();  // saved at once
  QFile file(folder + "/lds-tool.conf"), filler(folder + "/filler");
  ASSERT_TRUE(file.open(QIODevice::ReadOnly) && filler.open(QIODevice::WriteOnly));
  const QByteArray saved = file.readAll();
  file.close();
  ASSERT_TRUE(saved.contains("pointFilter=true"));
  while (filler.write(QByteArray(4096, 'x')) > 0 && filler.flush()) {
  }
  filter->trigger();
  EXPECT_EQ(window->statusBar()->currentMessage(), "无法保存设置 " + file.fileName() + "：No space left on device");
  window.reset();
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), saved);
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
  // Its confirmation stays on the status line as it refreshes (here once a
  // second, for the held view).
  qputenv("LC_ALL", "en_GB.UTF-8");
  EXPECT_EQ(ChooseLanguage(QString()), Language::English);
  Find<QAction>(window, "actionHold")->trigger();
  Find<QAction>(window, "actionLanguageChinese")->trigger();
  QTest::qWait(1100);
  EXPECT_EQ(window.statusBar()->currentMessage(), "界面语言：中文（下次启动时生效） · View held");
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

// SIGTERM, SIGINT and SIGHUP close the program as closing its window does,
// with status 0, a message box open (a failed connect's) or not.
TEST(ProgramTest, StopSignalsCloseTheWindow) {
  for (int number : {SIGTERM, SIGINT, SIGHUP}) {
    QTemporaryDir config;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", config.path());
    // The status is judged here, not leaks: under LeakSanitizer a whole
    // program ended by a signal shows two blocks that Mesa's code, without
    // frame pointers, leaves at exit, and the sanitizer's status replaces ours.
    if (env.contains("ASAN_OPTIONS")) env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(LDS_TOOL_PATH, {"--port", "/dev/no-such-lds-port", "--connect"});
    QByteArray output;
    ASSERT_TRUE(WaitFor([&] { return (output += p.readAll()).contains("open serial port failed"); }, 20000))
        << output.toStdString();
    kill(static_cast<pid_t>(p.processId()), number);
    ASSERT_TRUE(p.waitForFinished(10000)) << strsignal(number);
    EXPECT_TRUE(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0) << strsignal(number);
  }
}

}  // namespace
