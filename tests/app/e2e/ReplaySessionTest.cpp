// Sessions of the replay: raw bytes saved from a live link play back as the
// same rows; recordings are named, listed and opened as typed; a jump shows
// the frame of a linear play.
#include <sys/stat.h>

#include <QDir>
#include <QListView>
#include <QSlider>
#include <utility>

#include "app/CsvRecorder.h"
#include "app/ReplayController.h"
#include "protocol/RawReplay.h"
#include "tests/app/e2e/Session.h"
#include "viewer/vtkViewer.h"

using namespace apptest;

namespace {

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

  // 关闭录制 takes the bar away. What is no recording is refused before a
  // byte is read, says why and leaves no bar: neither a FIFO nor an endless
  // device holds the window, nor is a huge file read up to the limit.
  Find<QAction>(*window, "actionCloseReplay")->trigger();
  auto barShown = [&] {
    auto* bar = window->findChild<QWidget*>("replayBar");
    return bar && bar->isVisible();
  };
  EXPECT_FALSE(barShown());
  const QString fifo = tmp.filePath("fifo.raw"), huge = tmp.filePath("huge.raw");
  ASSERT_EQ(mkfifo(qPrintable(fifo), 0600), 0);
  QFile sparse(huge);
  ASSERT_TRUE(sparse.open(QIODevice::WriteOnly) && sparse.resize(qint64{10} << 30));
  for (const auto& [path, reason] : {std::pair<QString, QString>{tmp.path(), "Is a directory"},
                                     {fifo, "not a regular file"},
                                     {"/dev/zero", "not a regular file"},
                                     {huge, "10240 MiB, larger than 512 MiB"}}) {
    QString box;
    answer.ThenBox(&box);
    window->findChild<ReplayController*>()->Open(path);
    EXPECT_TRUE(WaitFor([&] { return !box.isEmpty(); })) << path.toStdString();
    EXPECT_EQ(box, "错误|打开录制文件失败！\n" + path + "\n" + reason);
    EXPECT_TRUE(Line().startsWith("无法打开 " + path + "：" + reason)) << Line().toStdString();
  }
  EXPECT_FALSE(barShown());
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
  auto* replay = window->findChild<ReplayController*>();
  Find<QAction>(*window, "actionOpenReplay")->trigger();
  EXPECT_EQ(rawOnly, "run.raw take.raw");
  EXPECT_EQ(all, "run.raw take.bin take.raw");
  ASSERT_TRUE(WaitFor([&] { return replay->IsOpen(); }));
  EXPECT_EQ(Find<QLabel>(*window, "replayFile")->text().trimmed(), "run.raw");
}

// The rows each revolution adds in a linear play, by its number: those filed
// after the frame before it, up to its own frame.
std::map<int, std::vector<KXScanPoint>> RowsByRevolution(const std::vector<uint8_t>& bytes,
                                                         const ScanSettings& settings) {
  KXProtocol decoder;
  decoder.SetConsoleReports(false);
  ScanFilter filter;
  FrameAssembler assembler(filter);
  RawReplay reader;
  reader.Load(bytes);
  std::map<int, std::vector<KXScanPoint>> rows;
  std::vector<KXScanPoint> since;
  while (!reader.AtEnd()) {
    reader.PlayPackets(1, decoder);
    const FrameAssembler::Result r = assembler.Step(decoder.TakeScanPoints(), settings, true);
    since.insert(since.end(), r.csvRows.begin(), r.csvRows.end());
    if (r.frameReady) rows[reader.Revolution()] = std::exchange(since, {});
  }
  return rows;
}

// Stepping on gives the frames of a linear play; the slider and 上一圈 jump
// to a revolution with the frame a linear play shows there, and a CSV file
// under way gets the rows of the revolutions shown, not those decoded again
// before a jump's target. The bar names the file, and a file without packets
// says so.
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
        replay->Open(room);
        ASSERT_TRUE(WaitFor([&] { return replay->IsOpen(); }));
        Find<QAction>(*window, "actionReplayPlay")->trigger();  // paused before a byte is played
      },
      0, 1));  // the empty frame of the start
  EXPECT_EQ(Find<QLabel>(*window, "replayFile")->text().trimmed(), "room.raw");
  const QString csvFile = tmp.filePath("jumps.csv"), expectedFile = tmp.filePath("expected.csv");
  Record(csvFile);
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
  Find<QAction>(*window, "actionSaveDataCSV")->trigger();
  const std::map<int, std::vector<KXScanPoint>> rows = RowsByRevolution(bytes, window->CurrentSettings());
  CsvRecorder expected;
  ASSERT_EQ(expected.Start(expectedFile), CsvRecorder::Outcome::Recording);
  for (int k : {0, 1, 2, 3, 4, 5, 6, 12, 4, 3, 4, 5}) expected.Write(rows.at(k));
  expected.Stop();
  EXPECT_TRUE(Rows(csvFile) == Rows(expectedFile))
      << Rows(csvFile).count('\n') << " rows written, " << Rows(expectedFile).count('\n') << " expected";

  replay->Open(junk);
  EXPECT_TRUE(WaitFor([&] {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // the bar of the first file goes
    auto* position = window->findChild<QLabel*>("replayPosition");
    return position && position->text() == "文件中没有数据包 · 结束";
  }));
  EXPECT_FALSE(Find<QSlider>(*window, "replaySlider")->isEnabled());
}

}  // namespace
