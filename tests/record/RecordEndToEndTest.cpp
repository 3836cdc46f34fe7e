// lds-record as a user runs it, against lds-sim on a pseudo-terminal.
#include <gtest/gtest.h>
#include <pcl/io/pcd_io.h>

#include <QString>
#include <QTextStream>
#include <csignal>
#include <filesystem>
#include <memory>
#include <regex>

#include "protocol/KXProtocol.h"
#include "record/RecordOutputs.h"
#include "scan/ScanFilter.h"
#include "tests/support/ChildProcess.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Feeds a recorded byte stream to a fresh decoder and returns every point.
std::vector<KXScanPoint> DecodeStream(const std::string& bytes) {
  KXProtocol decoder;
  std::vector<KXScanPoint> points;
  testing::internal::CaptureStdout();  // the decoder's CRC reports
  for (size_t pos = 0; pos < bytes.size(); pos += 512) {
    const size_t n = std::min<size_t>(512, bytes.size() - pos);
    decoder.OnDataReceived(reinterpret_cast<const uint8_t*>(bytes.data() + pos), static_cast<uint32_t>(n));
    // Drained after every chunk, so the queue's cap never drops anything here.
    for (const KXScanPoint& p : decoder.TakeScanPoints()) points.push_back(p);
  }
  testing::internal::GetCapturedStdout();
  return points;
}

// The CSV rows the window writes for these decoded points with its default
// settings (angle calibration on).
std::vector<std::string> ExpectedRows(const std::vector<KXScanPoint>& points) {
  std::vector<std::string> rows;
  for (KXScanPoint p : points) {
    p.angle = ScanFilter::CalibrateAngle(p.angle);
    QString text;
    QTextStream stream(&text);
    stream << p.angle << ',' << static_cast<unsigned>(p.distance) << ',' << static_cast<unsigned>(p.intensity);
    stream.flush();
    rows.push_back(text.toStdString());
  }
  return rows;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

long StatValue(const std::string& statsText, const std::string& key) {
  std::smatch m;
  if (!std::regex_search(statsText, m, std::regex("(^|\n)" + key + "=(\\d+)"))) return -1;
  return std::stol(m[2]);
}

class RecordEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/lds-record-e2e-XXXXXX";
    dir = mkdtemp(name);
  }
  void TearDown() override {
    for (auto& sim : sims) {
      sim->Signal(SIGTERM);
      sim->Wait(5s);
    }
    sims.clear();
    fs::remove_all(dir);
  }
  std::string Path(const std::string& name) const { return (dir / name).string(); }

  // Starts a simulator and returns the path of its terminal.
  std::string StartSim(std::vector<std::string> extra, const std::string& name = "sim") {
    const std::string link = Path(name + ".pty");
    std::vector<std::string> argv = {LDS_SIM_PATH, "--link", link};
    argv.insert(argv.end(), extra.begin(), extra.end());
    sims.push_back(std::make_unique<ChildProcess>(argv));
    EXPECT_TRUE(WaitFor([&] { return fs::exists(link); }, 5s)) << sims.back()->Err();
    return link;
  }

  std::unique_ptr<ChildProcess> StartRecord(std::vector<std::string> args, long fileSizeLimit = 0) {
    args.insert(args.begin(), LDS_RECORD_PATH);
    return std::make_unique<ChildProcess>(args, fileSizeLimit);
  }

  fs::path dir;
  std::vector<std::unique_ptr<ChildProcess>> sims;
};

TEST_F(RecordEndToEnd, RevolutionsGivePcdFilesAndCsvRowsOfEveryReceivedPointAndTheRawStreamReplays) {
  const std::string port = StartSim({});
  auto record = StartRecord({"--port", port, "--revolutions", "4", "--csv", Path("scan.csv"), "--raw", Path("scan.raw"),
                             "--pcd", Path("pcd")});
  ASSERT_EQ(record->Wait(30s), 0) << record->Err();
  EXPECT_NE(record->Out().find("4 revolutions"), std::string::npos) << record->Out();
  EXPECT_NE(record->Out().find(" 0 points lost"), std::string::npos) << record->Out();

  // Exactly four revolutions, each a readable cloud of points inside the room.
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(Path("pcd"))) files.push_back(entry.path().filename());
  std::sort(files.begin(), files.end());
  ASSERT_EQ(files, (std::vector<std::string>{"rev_000001.pcd", "rev_000002.pcd", "rev_000003.pcd", "rev_000004.pcd"}));
  for (const std::string& f : files) {
    pcl::PointCloud<pcl::PointXYZI> cloud;
    ASSERT_EQ(pcl::io::loadPCDFile(Path("pcd/" + f), cloud), 0) << f;
    if (f != files.front()) {
      EXPECT_GT(cloud.size(), 300u) << f;  // the first may begin mid-sweep
    }
    for (const auto& p : cloud) {
      const float r = std::hypot(p.x, p.y);
      ASSERT_GT(r, 0.2f);
      ASSERT_LT(r, 10.0f);
      ASSERT_EQ(p.z, 0.0f);
    }
  }

  // The CSV holds one row for every point that the raw stream carries.
  const std::vector<KXScanPoint> decoded = DecodeStream(ReadFile(Path("scan.raw")));
  ASSERT_GT(decoded.size(), 1000u);
  const std::vector<std::string> expected = ExpectedRows(decoded);
  std::vector<std::string> rows = Lines(ReadFile(Path("scan.csv")));
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows.front(), "angle,dist,intensity");
  rows.erase(rows.begin());
  EXPECT_EQ(rows, expected);

  // Played back by the simulator, the raw file gives the live run's points.
  const std::string replayPort = StartSim({"--replay", Path("scan.raw"), "--wait-start"}, "replay");
  KXProtocol protocol;
  ASSERT_TRUE(protocol.Connect(replayPort, 230400));
  ASSERT_TRUE(protocol.EnableLidar());
  std::vector<KXScanPoint> replayed;
  WaitFor(
      [&] {
        for (const KXScanPoint& p : protocol.TakeScanPoints()) replayed.push_back(p);
        return replayed.size() >= decoded.size();
      },
      10s);
  protocol.Disconnect();
  EXPECT_EQ(ExpectedRows(replayed), rows);
}

TEST_F(RecordEndToEnd, CorruptPacketsAreCountedAndTheRawFileKeepsTheJunk) {
  const std::string port = StartSim(
      {"--bad-crc-every", "10", "--garbage-every", "7", "--garbage-bytes", "5", "--stats-file", Path("sim.stats")});
  auto record = StartRecord({"--port", port, "--seconds", "1", "--csv", Path("scan.csv"), "--raw", Path("scan.raw")});
  ASSERT_EQ(record->Wait(20s), 0) << record->Err();
  sims.front()->Signal(SIGTERM);
  ASSERT_EQ(sims.front()->Wait(5s), 0);
  const std::string stats = ReadFile(Path("sim.stats"));
  const long badCrc = StatValue(stats, "bad_crc");
  ASSERT_GT(badCrc, 0) << stats;
  EXPECT_NE(record->Out().find(" " + std::to_string(badCrc) + " CRC errors"), std::string::npos)
      << record->Out() << stats;
  EXPECT_EQ(static_cast<long>(ReadFile(Path("scan.raw")).size()), StatValue(stats, "bytes"));
  std::vector<std::string> rows = Lines(ReadFile(Path("scan.csv")));
  rows.erase(rows.begin());
  EXPECT_EQ(static_cast<long>(rows.size()), StatValue(stats, "points") - 12 * badCrc);
  EXPECT_EQ(rows, ExpectedRows(DecodeStream(ReadFile(Path("scan.raw")))));
}

// A host that stalls for a moment at the highest packet rate gets the backlog
// in one burst, far more than the protocol object queues by default; nothing
// may be lost.
TEST_F(RecordEndToEnd, AStalledRecorderLosesNoPointAtTheHighestRate) {
  const std::string port = StartSim({"--baud", "460800", "--pps", "max", "--stats-file", Path("sim.stats")});
  auto record = StartRecord({"--port", port, "--baud", "460800", "--seconds", "1.5", "--csv", Path("scan.csv")});
  ASSERT_TRUE(WaitFor([&] { return ReadFile(Path("scan.csv")).size() > 20000; }, 10s)) << record->Err();
  record->Signal(SIGSTOP);
  std::this_thread::sleep_for(400ms);
  record->Signal(SIGCONT);
  ASSERT_EQ(record->Wait(20s), 0) << record->Err();
  EXPECT_NE(record->Out().find(" 0 points lost"), std::string::npos) << record->Out();
  sims.front()->Signal(SIGTERM);
  ASSERT_EQ(sims.front()->Wait(5s), 0);
  const long sent = StatValue(ReadFile(Path("sim.stats")), "points");
  EXPECT_EQ(static_cast<long>(Lines(ReadFile(Path("scan.csv"))).size()) - 1, sent);
}

TEST_F(RecordEndToEnd, SigintLeavesCompleteFilesAndStopsTheSensor) {
  const std::string port = StartSim({"--stats-file", Path("sim.stats")});
  auto record =
      StartRecord({"--port", port, "--csv", Path("scan.csv"), "--raw", Path("scan.raw"), "--pcd", Path("pcd")});
  ASSERT_TRUE(WaitFor([&] { return fs::exists(Path("pcd/rev_000002.pcd")); }, 10s)) << record->Err();
  record->Signal(SIGINT);
  ASSERT_EQ(record->Wait(5s), 0) << record->Err();
  EXPECT_EQ(record->Err().find("did not acknowledge"), std::string::npos) << record->Err();

  const std::string csv = ReadFile(Path("scan.csv"));
  ASSERT_FALSE(csv.empty());
  EXPECT_EQ(csv.back(), '\n');
  std::vector<std::string> rows = Lines(csv);
  rows.erase(rows.begin());
  const std::regex row("\\d+(\\.\\d+)?(e[-+]\\d+)?,\\d+,\\d+");
  for (const std::string& r : rows) ASSERT_TRUE(std::regex_match(r, row)) << r;
  EXPECT_EQ(rows, ExpectedRows(DecodeStream(ReadFile(Path("scan.raw")))));
  for (const auto& entry : fs::directory_iterator(Path("pcd"))) {
    pcl::PointCloud<pcl::PointXYZI> cloud;
    EXPECT_EQ(pcl::io::loadPCDFile(entry.path().string(), cloud), 0) << entry.path();
  }

  // The sensor was stopped: its packet count no longer grows. The simulator
  // rewrites its counters once a second.
  std::this_thread::sleep_for(1200ms);
  const long before = StatValue(ReadFile(Path("sim.stats")), "packets");
  std::this_thread::sleep_for(1200ms);
  EXPECT_GT(before, 0);
  EXPECT_EQ(StatValue(ReadFile(Path("sim.stats")), "packets"), before);
}

TEST_F(RecordEndToEnd, PortAndSensorFailuresExitWithOneAndSayWhy) {
  auto missing = StartRecord({"--port", Path("no-such-tty")});
  EXPECT_EQ(missing->Wait(10s), 1);
  EXPECT_NE(missing->Err().find("Error: open serial port failed."), std::string::npos) << missing->Err();
  EXPECT_NE(missing->Err().find("lds-record: cannot open serial port " + Path("no-such-tty")), std::string::npos);

  const std::string silent = StartSim({"--no-ack"}, "silent");
  auto noAck = StartRecord({"--port", silent, "--csv", Path("a.csv")});
  EXPECT_EQ(noAck->Wait(20s), 1);
  EXPECT_NE(noAck->Err().find("did not acknowledge the start command"), std::string::npos) << noAck->Err();
  EXPECT_EQ(ReadFile(Path("a.csv")), "");  // no recording began

  // A sensor that acknowledges nothing is asked for nothing with --no-start,
  // and this one never streams: the recording ends after 3 s of silence.
  const std::string idle = StartSim({}, "idle");
  auto quiet = StartRecord({"--port", idle, "--no-start", "--csv", Path("b.csv")});
  EXPECT_EQ(quiet->Wait(20s), 1);
  EXPECT_NE(quiet->Err().find("sent nothing for 3 s"), std::string::npos) << quiet->Err();
  EXPECT_EQ(ReadFile(Path("b.csv")), "angle,dist,intensity\n");
}

TEST_F(RecordEndToEnd, AHangUpMidRecordingKeepsEveryPointReceived) {
  const std::string port = StartSim({"--hangup-after", "40"});
  auto record = StartRecord({"--port", port, "--csv", Path("scan.csv")});
  EXPECT_EQ(record->Wait(20s), 1);
  EXPECT_NE(record->Err().find("closed unexpectedly"), std::string::npos) << record->Err();
  EXPECT_EQ(Lines(ReadFile(Path("scan.csv"))).size(), 1u + 40u * 12u);
}

TEST_F(RecordEndToEnd, WriteErrorsStopTheRecordingAndKeepWhatWasWritten) {
  const std::string port = StartSim({});
  auto full = StartRecord({"--port", port, "--csv", "/dev/full"});
  EXPECT_EQ(full->Wait(20s), 1);
  EXPECT_NE(full->Err().find("writing CSV file /dev/full failed: No space left on device"), std::string::npos)
      << full->Err();

  // A file that may not grow past 20000 bytes fills up mid-recording.
  auto capped = StartRecord({"--port", port, "--csv", Path("capped.csv")}, 20000);
  EXPECT_EQ(capped->Wait(20s), 1);
  EXPECT_NE(capped->Err().find("File too large; recording stopped"), std::string::npos) << capped->Err();
  const std::string csv = ReadFile(Path("capped.csv"));
  EXPECT_EQ(csv.size(), 20000u);
  EXPECT_EQ(csv.rfind("angle,dist,intensity\n", 0), 0u);
}

TEST_F(RecordEndToEnd, BadArgumentsExitWithTwoAndTheUsage) {
  auto bad = StartRecord({"--port", "x", "--seconds", "1", "--revolutions", "1"});
  EXPECT_EQ(bad->Wait(5s), 2);
  EXPECT_NE(bad->Err().find("cannot be combined"), std::string::npos);
  EXPECT_NE(bad->Err().find("Usage: lds-record --port PATH"), std::string::npos);
  auto help = StartRecord({"--help"});
  EXPECT_EQ(help->Wait(5s), 0);
  EXPECT_NE(help->Out().find("Usage: lds-record --port PATH"), std::string::npos);
}

}  // namespace
