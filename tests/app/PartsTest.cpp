// The window's plain parts, driven without a window: the replay's cursor,
// the diagnosis plots and the CSV recorder on a filling disk.
#include <sys/resource.h>

#include <QComboBox>
#include <QLabel>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <cmath>
#include <csignal>
#include <map>

#include "app/CsvRecorder.h"
#include "app/DiagnosisDock.h"
#include "app/ReplayCursor.h"
#include "app/StatusLine.h"
#include "tests/app/WindowDriver.h"

using namespace apptest;

namespace {

// The worker's part, played in step: each feed is one batch.
struct Consumer {
  Consumer() {
    settings.enableAlgoFilter = true;
    protocol.SetConsoleReports(false);  // the recording's bad packets
  }
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
// shows the frame a linear play shows there. With an angle offset the
// frames end elsewhere, and the revolutions are counted there: turned by
// 238 degrees, this recording holds one whole revolution fewer.
TEST(ReplayCursorTest, ASeekShowsTheFrameOfALinearPlay) {
  const std::vector<uint8_t> recording = RoomRecording(13);
  for (auto [offset, whole] : {std::pair{0.0f, 12}, {238.0f, 11}}) {
    Consumer packetwise, a, b;
    for (Consumer* c : {&packetwise, &a, &b}) c->protocol.SetAngleOffset(offset);
    RawReplay reader;
    reader.Load(recording);
    reader.SetAngleOffset(offset);
    while (!reader.AtEnd()) {
      reader.PlayPackets(1, packetwise.protocol);
      packetwise.Take(reader.Revolution());
    }
    ASSERT_EQ(packetwise.frames.size(), whole + 1u);  // the partial first one too
    ReplayCursor linear, jumping;
    for (ReplayCursor* c : {&linear, &jumping}) {
      c->SetAngleOffset(offset);
      c->Load(recording);
    }
    EXPECT_EQ(linear.Revolutions(), whole);
    linear.Play(true, 0);
    a.Run(linear);
    EXPECT_TRUE(a.frames == packetwise.frames);
    EXPECT_TRUE(linear.AtEnd() && !linear.Playing());

    for (int k : {7, 3, 4, 6, 1, whole, 2, 2, whole - 1}) {
      if (jumping.SeekTo(k)) b.Restart();
      b.Run(jumping);
      EXPECT_EQ(jumping.Revolution(), k);
      EXPECT_TRUE(b.shown == packetwise.frames.at(k)) << "revolution " << k << ", offset " << offset;
      jumping.Play(true, 0);  // a few packets on, then a jump from mid-turn
      jumping.Feed(b.protocol, 0);
      jumping.Pause();
    }
  }
  ReplayCursor cursor;
  cursor.Load(recording);
  EXPECT_TRUE(cursor.SeekTo(0));  // back to the beginning, from part-way into the first revolution too
  cursor.Play(true, 0);
  Consumer c;
  cursor.Feed(c.protocol, 0);
  EXPECT_TRUE(cursor.SeekTo(0) && cursor.TimeMs() == 0);
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

// A disk that fills up in the middle of a row (here a file size limit): the
// file ends with the last whole row, what it held before stays, and the
// count is the rows written.
TEST(CsvRecorderTest, AFillingDiskLeavesWholeRows) {
  const QTemporaryDir tmp;
  QFile file(tmp.filePath("rows.csv"));
  const QByteArray before = "angle,dist,intensity\n1.5,1000,9\n", row = "1.5,1000,9\n";
  ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(before) == before.size());
  file.close();
  rlimit saved{}, limit{};
  getrlimit(RLIMIT_FSIZE, &saved);
  limit = saved;
  limit.rlim_cur = before.size() + 21 + 3 * row.size() + 5;  // the header, three rows and part of a fourth
  const auto handler = signal(SIGXFSZ, SIG_IGN);             // a write past it then fails with EFBIG
  setrlimit(RLIMIT_FSIZE, &limit);
  CsvRecorder csv;
  const bool started = csv.Start(file.fileName()) == CsvRecorder::Outcome::Recording;
  const bool written = csv.Write(std::vector<KXScanPoint>(5, KXScanPoint{1.5f, 1000, 9}));
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, handler);
  EXPECT_TRUE(started && !written);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), before + "angle,dist,intensity\n" + row.repeated(3));
  EXPECT_EQ(csv.Rows(), 3u);
  EXPECT_EQ(csv.Error(), "File too large");
}

}  // namespace
