// The recorder's plain parts: options, the three outputs and the session that
// files batches, without a port.
#include <gtest/gtest.h>
#include <pcl/io/pcd_io.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "protocol/KXScanPoint.h"
#include "record/RecordOptions.h"
#include "record/RecordOutputs.h"
#include "record/RecordSession.h"
#include "tests/support/ChildProcess.h"

namespace fs = std::filesystem;

namespace {

fs::path MakeTempDir() {
  char name[] = "/tmp/lds-record-test-XXXXXX";
  return fs::path(mkdtemp(name));
}

class TempDir {
 public:
  TempDir() : path(MakeTempDir()) {}
  ~TempDir() { fs::remove_all(path); }
  std::string operator/(const std::string& name) const { return (path / name).string(); }
  fs::path path;
};

ParseOutcome Parse(std::vector<std::string> args, RecordOptions& options, std::string& error) {
  return ParseRecordArgs(args, options, error);
}

// One packet's worth of points, evenly spread from `start` degrees on.
std::vector<KXScanPoint> Packet(float start, float step, uint16_t distance) {
  std::vector<KXScanPoint> points;
  for (int k = 0; k < 12; ++k) {
    float angle = start + step * k;
    if (angle >= 360.0f) angle -= 360.0f;
    points.push_back({angle, distance, 100});
  }
  return points;
}

}  // namespace

TEST(RecordOptionsTest, DefaultsMatchTheWindow) {
  RecordOptions o;
  std::string error;
  ASSERT_EQ(Parse({"--port", "/dev/ttyUSB0"}, o, error), ParseOutcome::Ok) << error;
  EXPECT_EQ(o.port, "/dev/ttyUSB0");
  EXPECT_EQ(o.baud, 230400);
  EXPECT_EQ(o.seconds, 0.0);
  EXPECT_EQ(o.revolutions, 0);
  EXPECT_FALSE(o.noStart);
  EXPECT_EQ(o.angleOffset, 0.0f);
  EXPECT_TRUE(o.settings.enableAngleCalib);
  EXPECT_FALSE(o.settings.enableAlgoFilter);
  EXPECT_FALSE(o.settings.enableDistCorrect);
  EXPECT_FALSE(o.settings.enableWaterNoiseFilter);
  EXPECT_FALSE(o.settings.enableAngleEdgeFilter);
  EXPECT_EQ(o.settings.diffThr, 120.0);
  EXPECT_EQ(o.settings.filterMinRange, 300);
  EXPECT_EQ(o.settings.filterMaxRange, 1500);
  EXPECT_EQ(o.settings.filterIntensityThr, 40);
  EXPECT_EQ(o.settings.edgeFilterMargin, 1.5f);

  ASSERT_EQ(Parse({"--port=/tmp/p", "--no-calib", "--water-filter", "--angle-offset", "-12.5"}, o, error),
            ParseOutcome::Ok);
  EXPECT_FALSE(o.settings.enableAngleCalib);
  EXPECT_TRUE(o.settings.enableWaterNoiseFilter);
  EXPECT_FALSE(o.settings.enableAngleEdgeFilter);
  EXPECT_EQ(o.angleOffset, -12.5f);
  EXPECT_EQ(Parse({"--help"}, o, error), ParseOutcome::Help);
}

TEST(RecordOptionsTest, BadArgumentsAreRejectedWithAReason) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "--port is required"},
      {{"--port"}, "needs a value"},
      {{"--port", "p", "--seconds", "1", "--revolutions", "2"}, "cannot be combined"},
      {{"--port", "p", "--seconds", "0"}, "positive number"},
      {{"--port", "p", "--seconds", "nan"}, "positive number"},
      {{"--port", "p", "--revolutions", "2.5"}, "whole number"},
      {{"--port", "p", "--baud", "fast"}, "whole number"},
      {{"--port", "p", "--baud", "-9600"}, "whole number"},
      {{"--port", "p", "--angle-offset", "400"}, "-360 to 360"},
      {{"--port", "p", "--csv", ""}, "needs a path"},
      {{"--port", "p", "--no-start=yes"}, "takes no value"},
      {{"--port", "p", "--bogus"}, "unknown argument \"--bogus\""},
      {{"--port", "p", "extra"}, "unknown argument \"extra\""},
  };
  for (const auto& [args, reason] : cases) {
    RecordOptions o;
    std::string error;
    EXPECT_EQ(Parse(args, o, error), ParseOutcome::Error) << reason;
    EXPECT_NE(error.find(reason), std::string::npos) << "got: " << error;
  }
}

TEST(CsvRecorderTest, RowsLookLikeTheWindowsAndAppendToOldContent) {
  TempDir dir;
  const std::string path = dir / "scan.csv";
  { std::ofstream(path) << "old line\n"; }
  CsvRecorder csv;
  std::string error;
  ASSERT_TRUE(csv.Open(path, error)) << error;
  ASSERT_TRUE(csv.WriteHeader(error)) << error;
  ASSERT_TRUE(csv.WriteRows({{123.456f, 1500, 87}, {0.5f, 0, 0}, {359.99f, 65535, 255}, {7.91759f, 12, 3}}, error));
  ASSERT_TRUE(csv.Close(error)) << error;
  EXPECT_EQ(ReadFile(path),
            "old line\n"
            "angle,dist,intensity\n"
            "123.456,1500,87\n"
            "0.5,0,0\n"
            "359.99,65535,255\n"
            "7.91759,12,3\n");
}

TEST(CsvRecorderTest, AFullDiskIsReportedAndLaterWritesAreRefused) {
  CsvRecorder csv;
  std::string error;
  ASSERT_TRUE(csv.Open("/dev/full", error)) << error;
  EXPECT_FALSE(csv.WriteHeader(error));
  EXPECT_NE(error.find("writing CSV file /dev/full failed: No space left on device"), std::string::npos) << error;
  EXPECT_FALSE(csv.WriteRows({{1.0f, 2, 3}}, error));
  EXPECT_FALSE(csv.Close(error));

  CsvRecorder missing;
  EXPECT_FALSE(missing.Open("/nonexistent-dir/x.csv", error));
  EXPECT_NE(error.find("cannot open CSV file /nonexistent-dir/x.csv"), std::string::npos) << error;
}

TEST(RawRecorderTest, AFullDiskIsReported) {
  RawRecorder full;
  std::string error;
  ASSERT_TRUE(full.Open("/dev/full", error));
  EXPECT_FALSE(full.Write({1}, error));
  EXPECT_EQ(error, "writing raw file /dev/full failed: No space left on device");
}

TEST(PcdRecorderTest, ConversionMatchesTheViewer) {
  pcl::PointXYZI p = ToCloudPoint({90.0f, 2000, 55});
  EXPECT_NEAR(p.x, 0.0f, 1e-6);
  EXPECT_FLOAT_EQ(p.y, 2.0f);
  EXPECT_EQ(p.z, 0.0f);
  EXPECT_EQ(p.intensity, 55.0f);
  EXPECT_FLOAT_EQ(ToCloudPoint({90.0f, 2000, 55}, -1).y, -2.0f);
  pcl::PointXYZI q = ToCloudPoint({225.0f, 1000, 0});
  EXPECT_NEAR(q.x, -0.70710678f, 1e-6);
  EXPECT_NEAR(q.y, -0.70710678f, 1e-6);
}

TEST(PcdRecorderTest, WritesReadableFilesAndNeverOverwritesARecording) {
  TempDir dir;
  const std::string pcdDir = dir / "a/b";
  PcdRecorder pcd;
  std::string error;
  ASSERT_TRUE(pcd.Open(pcdDir, error)) << error;  // nested directories are created
  std::vector<KXScanPoint> frame(600);
  frame[10] = {6.0f, 1000, 200};
  frame[150] = {90.0f, 2500, 30};
  ASSERT_TRUE(pcd.WriteRevolution(1, frame, error)) << error;
  ASSERT_TRUE(pcd.WriteRevolution(2, std::vector<KXScanPoint>(600), error)) << error;

  pcl::PointCloud<pcl::PointXYZI> cloud;
  ASSERT_EQ(pcl::io::loadPCDFile(pcdDir + "/rev_000001.pcd", cloud), 0);
  ASSERT_EQ(cloud.size(), 2u);  // empty slots are left out
  EXPECT_NEAR(cloud[0].x, 0.994522f, 1e-5);
  EXPECT_EQ(cloud[0].intensity, 200.0f);
  EXPECT_NEAR(cloud[1].y, 2.5f, 1e-6);
  // Read without conversion to a point type: PCL's conversion indexes the
  // first point of a cloud even when it has none.
  pcl::PCLPointCloud2 empty;
  EXPECT_EQ(pcl::io::loadPCDFile(pcdDir + "/rev_000002.pcd", empty), 0);
  EXPECT_EQ(empty.width * empty.height, 0u);
  EXPECT_EQ(empty.fields.size(), 4u);

  PcdRecorder again;
  EXPECT_FALSE(again.Open(pcdDir, error));
  EXPECT_NE(error.find("already holds a recording (rev_"), std::string::npos) << error;
  EXPECT_FALSE(again.Open("/dev/null", error));
}

TEST(RecordSessionTest, FilesBatchesLikeTheWorkerAndStopsPcdAtTheLimit) {
  TempDir dir;
  CsvRecorder csv;
  PcdRecorder pcd;
  std::string error;
  ASSERT_TRUE(csv.Open(dir / "s.csv", error));
  ASSERT_TRUE(pcd.Open(dir / "pcd", error));
  ScanSettings settings;
  settings.enableAngleCalib = false;
  RecordSession session(settings, &csv, &pcd, 2);

  // Four turns of 30 packets each (12 points over 1 degree steps), fed in
  // batches of three packets: each crossing of 0 degrees completes one revolution.
  std::string anomaly;
  uint64_t fed = 0;
  for (int turn = 0; turn < 4; ++turn) {
    for (int batchStart = 0; batchStart < 360; batchStart += 36) {
      std::vector<KXScanPoint> batch;
      for (int p = 0; p < 3; ++p) {
        auto packet = Packet(static_cast<float>(batchStart + 12 * p), 1.0f, static_cast<uint16_t>(1000 + turn));
        batch.insert(batch.end(), packet.begin(), packet.end());
      }
      fed += batch.size();
      ASSERT_TRUE(session.ProcessBatch(batch, error, anomaly)) << error;
      EXPECT_EQ(anomaly, "");
    }
  }
  ASSERT_TRUE(csv.Close(error));
  const RecordSession::Counters& c = session.Stats();
  EXPECT_EQ(c.pointsTaken, fed);
  // Without calibration every angle from 0 to 359 has a slot.
  EXPECT_EQ(c.pointsFiled, fed);
  EXPECT_EQ(c.revolutions, 2);
  EXPECT_EQ(c.revolutionsWritten, 2);
  EXPECT_TRUE(session.RevolutionLimitReached());
  EXPECT_TRUE(fs::exists(dir / "pcd/rev_000002.pcd"));
  EXPECT_FALSE(fs::exists(dir / "pcd/rev_000003.pcd"));
  pcl::PointCloud<pcl::PointXYZI> cloud;
  ASSERT_EQ(pcl::io::loadPCDFile(dir / "pcd/rev_000001.pcd", cloud), 0);
  EXPECT_EQ(cloud.size(), 360u);  // one full turn, one point per degree

  const std::string text = ReadFile(dir / "s.csv");
  EXPECT_EQ(static_cast<uint64_t>(std::count(text.begin(), text.end(), '\n')), fed);
  EXPECT_EQ(text.substr(0, 24), "0,1000,100\n1,1000,100\n2,");
}

TEST(RecordSessionTest, ABacklogOfSeveralRevolutionsInOnePollKeepsEveryRevolution) {
  ScanSettings settings;
  settings.enableAngleCalib = false;
  RecordSession session(settings, nullptr, nullptr);
  std::vector<KXScanPoint> backlog;
  for (int turn = 0; turn < 4; ++turn) {
    for (int start = 0; start < 360; start += 12) {
      auto packet = Packet(static_cast<float>(start), 1.0f, 800);
      backlog.insert(backlog.end(), packet.begin(), packet.end());
    }
  }
  std::string error;
  std::vector<std::string> anomalies;
  ASSERT_TRUE(session.ProcessPoll(backlog, error, anomalies));
  EXPECT_TRUE(anomalies.empty());
  EXPECT_EQ(session.Stats().revolutions, 3);  // each crossing of 0 degrees after the first turn
  EXPECT_EQ(session.Stats().pointsFiled, backlog.size());
}

TEST(RecordSessionTest, AnomaliesAreWordedLikeTheWindowsLog) {
  ScanSettings settings;
  settings.enableAngleCalib = false;
  RecordSession session(settings, nullptr, nullptr);
  std::string error;
  std::string anomaly;
  ASSERT_TRUE(session.ProcessBatch(Packet(100.0f, 1.0f, 500), error, anomaly));
  ASSERT_TRUE(session.ProcessBatch(Packet(80.0f, 1.0f, 500), error, anomaly));
  EXPECT_EQ(anomaly, "ERROR: abnormal angle change found: last pkg end at 111 current pkg end at 91");
  ASSERT_TRUE(session.ProcessBatch({{370.0f, 500, 1}}, error, anomaly));
  EXPECT_EQ(anomaly, "ERROR: abnormal angle found: 370");
  EXPECT_EQ(session.Stats().droppedBatches, 1u);
}
