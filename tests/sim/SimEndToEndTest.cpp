// lds-sim as a host meets it: a real pseudo-terminal, real signals, real files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "SimDecode.h"
#include "SimProcess.h"
#include "protocol/KXPacket.h"
#include "sim/SimPacket.h"
#include "sim/SimScene.h"
#include "tests/support/PtyPair.h"

namespace {

using namespace std::chrono_literals;

const std::vector<uint8_t> kStart(kx::kCmdEnable, kx::kCmdEnable + 5);
const std::vector<uint8_t> kStop(kx::kCmdDisable, kx::kCmdDisable + 5);

std::string TempPath(const std::string& name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir ? dir : "/tmp") + "/lds-sim-test-" + std::to_string(getpid()) + "-" + name;
}

// A counter of the summary line or the stats file, e.g. "packets=12".
uint64_t Counter(const std::string& text, const std::string& key) {
  for (size_t at = text.find(key + "="); at != std::string::npos; at = text.find(key + "=", at + 1)) {
    if (at == 0 || text[at - 1] == ' ' || text[at - 1] == '\n') return std::stoull(text.substr(at + key.size() + 1));
  }
  return UINT64_MAX;
}

TEST(SimExecutable, AnswersCommandsAndStreamsOnlyWhileStarted) {
  std::string stats = TempPath("stats-commands");
  SimProcess sim({"--stats-file", stats});
  std::string path = sim.FirstLine();
  ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
  ASSERT_TRUE(sim.OpenTty(path));
  EXPECT_TRUE(sim.Read(1, 200ms).empty()) << "streams before the start command";

  // The start frame split over two writes, with junk around it.
  sim.Write({0x00, 0x13, 0xA5, 0x5A});
  usleep(20000);
  sim.Write({0x01, 0x00, 0x00, 0xFF});
  EXPECT_EQ(sim.Read(2), (std::vector<uint8_t>{0x4F, 0x4B}));
  std::vector<uint8_t> stream = sim.Read(47 * 100);
  ASSERT_EQ(stream.size(), 47u * 100);

  sim.Write(kStop);
  std::vector<uint8_t> tail = sim.Read(SIZE_MAX, 300ms);
  ASSERT_GE(tail.size(), 2u);
  EXPECT_EQ(tail[tail.size() - 2], 0x4F);
  EXPECT_EQ(tail.back(), 0x4B);
  EXPECT_EQ((tail.size() - 2) % 47, 0u);
  stream.insert(stream.end(), tail.begin(), tail.end() - 2);

  DecodedStream d = DecodeStream(stream);
  EXPECT_EQ(d.stats.crcErrors, 0u);
  EXPECT_EQ(d.stats.skippedBytes, 0u);
  EXPECT_FLOAT_EQ(d.speedRpm, 600.0f);
  // Written as soon as the stop was answered, not only once a second.
  EXPECT_EQ(Counter(ReadWholeFile(stats), "packets"), d.stats.packets);

  sim.Signal(SIGINT);
  ASSERT_EQ(sim.Wait(), 0);
  std::string summary = sim.Stderr();
  EXPECT_EQ(Counter(summary, "packets"), d.stats.packets) << summary;
  EXPECT_EQ(Counter(summary, "points"), d.points.size()) << summary;
  EXPECT_EQ(Counter(summary, "bytes"), stream.size() + 4) << summary;
  unlink(stats.c_str());
}

TEST(SimExecutable, AcknowledgementStyles) {
  {
    SimProcess sim({"--ack", "long"});
    ASSERT_TRUE(sim.OpenTty(sim.FirstLine()));
    sim.Write(kStop);
    EXPECT_EQ(sim.Read(5), (std::vector<uint8_t>(kx::kAckLong, kx::kAckLong + 5)));
  }
  {
    SimProcess sim({"--no-ack"});
    ASSERT_TRUE(sim.OpenTty(sim.FirstLine()));
    sim.Write(kStart);
    std::vector<uint8_t> got = sim.Read(47 * 5);
    ASSERT_EQ(got.size(), 47u * 5);
    EXPECT_EQ(got[0], kx::kPacketHeader) << "a silent sensor still streams";
  }
}

TEST(SimExecutable, KeepsLinkAndRemovesItOnSigterm) {
  std::string link = TempPath("link");
  ASSERT_EQ(symlink("/nonexistent/stale", link.c_str()), 0);
  SimProcess sim({"--link", link});
  std::string path = sim.FirstLine();
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(path, target);
  ASSERT_TRUE(sim.OpenTty(link));
  sim.Write(kStart);
  EXPECT_EQ(sim.Read(2), (std::vector<uint8_t>{0x4F, 0x4B}));
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);
  struct stat st {};
  EXPECT_NE(lstat(link.c_str(), &st), 0) << "link left behind";
  unlink(link.c_str());

  // A second instance takes the name over; the first one leaves it alone.
  {
    SimProcess first({"--link", link});
    first.FirstLine();
    SimProcess second({"--link", link});
    std::string secondPath = second.FirstLine();
    first.Signal(SIGTERM);
    EXPECT_EQ(first.Wait(), 0);
    char now[256] = {};
    ASSERT_GT(readlink(link.c_str(), now, sizeof now - 1), 0);
    EXPECT_EQ(secondPath, now);
    second.Signal(SIGTERM);
    EXPECT_EQ(second.Wait(), 0);
    EXPECT_NE(lstat(link.c_str(), &st), 0);
  }

  // A regular file in the way is not clobbered.
  std::string file = TempPath("file");
  { std::ofstream(file) << "keep"; }
  SimProcess refused({"--link", file});
  EXPECT_EQ(refused.Wait(), 1);
  EXPECT_EQ(ReadWholeFile(file), "keep");
  unlink(file.c_str());
}

TEST(SimExecutable, HelpAndBadArguments) {
  SimProcess help({"--help"});
  EXPECT_EQ(help.Wait(), 0);
  EXPECT_NE(help.Stdout().find("--bad-crc-every"), std::string::npos);

  SimProcess bad({"--pps", "lots"});
  EXPECT_EQ(bad.Wait(), 2);
  EXPECT_TRUE(bad.Stdout().empty());
  EXPECT_NE(bad.Stderr().find("Usage"), std::string::npos);
}

TEST(SimExecutable, FaultsAndHangupMatchTheCounters) {
  std::string stats = TempPath("stats");
  SimProcess sim({"--autostart", "--pps", "max", "--bad-crc-every", "5", "--garbage-every", "3", "--garbage-bytes", "7",
                  "--hangup-after", "61", "--seed", "3", "--stats-file", stats});
  ASSERT_TRUE(sim.OpenTty(sim.FirstLine()));
  std::vector<uint8_t> got = sim.Read(SIZE_MAX);
  EXPECT_TRUE(sim.HungUp());
  ASSERT_EQ(sim.Wait(), 0);

  DecodedStream d = DecodeStream(got, 97);
  // The last packet follows the last junk, so the receiver has passed it all.
  EXPECT_EQ(d.stats.packets, 49u);
  EXPECT_EQ(d.stats.crcErrors, 12u);
  EXPECT_EQ(d.stats.skippedBytes, 20u * 7);
  EXPECT_EQ(got.size(), 61u * 47 + 20 * 7);

  std::string text = ReadWholeFile(stats);
  EXPECT_EQ(Counter(text, "packets"), 61u) << text;
  EXPECT_EQ(Counter(text, "bad_crc"), 12u);
  EXPECT_EQ(Counter(text, "garbage_bytes"), 140u);
  EXPECT_EQ(Counter(text, "bytes"), got.size());
  EXPECT_EQ(Counter(text, "points"), 61u * 12);
  unlink(stats.c_str());
}

TEST(SimExecutable, ReplayReproducesACapture) {
  std::string capture = TempPath("capture");
  std::vector<uint8_t> live;
  {
    SimProcess sim({"--capture", capture, "--hangup-after", "40", "--garbage-every", "7"});
    ASSERT_TRUE(sim.OpenTty(sim.FirstLine()));
    sim.Write(kStart);
    live = sim.Read(SIZE_MAX);
    ASSERT_EQ(sim.Wait(), 0);
  }
  std::string recorded = ReadWholeFile(capture);
  ASSERT_EQ(recorded.size(), 2 + 40u * 47 + 5 * 8);
  EXPECT_EQ(recorded, std::string(live.begin(), live.end()));

  {
    SimProcess replay({"--replay", capture});
    ASSERT_TRUE(replay.OpenTty(replay.FirstLine()));
    std::vector<uint8_t> again = replay.Read(recorded.size());
    EXPECT_EQ(std::string(again.begin(), again.end()), recorded);
    EXPECT_TRUE(replay.Read(1, 200ms).empty()) << "sent more than the file";
    replay.Signal(SIGTERM);
    ASSERT_EQ(replay.Wait(), 0);
    std::string summary = replay.Stderr();
    EXPECT_EQ(Counter(summary, "packets"), 40u) << summary;
    EXPECT_EQ(Counter(summary, "garbage_bytes"), 5u * 8) << summary;
    EXPECT_EQ(Counter(summary, "acks"), 1u) << summary;
  }
  {
    SimProcess replay({"--replay", capture, "--wait-start", "--ack", "long"});
    ASSERT_TRUE(replay.OpenTty(replay.FirstLine()));
    EXPECT_TRUE(replay.Read(1, 200ms).empty()) << "replayed before the start command";
    replay.Write(kStart);
    std::vector<uint8_t> again = replay.Read(5 + recorded.size());
    ASSERT_EQ(again.size(), 5 + recorded.size());
    EXPECT_EQ(std::string(again.begin() + 5, again.end()), recorded);
  }
  unlink(capture.c_str());
}

TEST(SimExecutable, DrivesAGivenDevice) {
  PtyPair pty;  // the simulator takes the slave; the test is the host on the master
  SimProcess sim({"--device", pty.SlavePath(), "--ack", "long"});
  EXPECT_EQ(sim.FirstLine(), pty.SlavePath());
  pty.Write(kStart);
  std::vector<uint8_t> got = pty.Read(5 + 47 * 3, std::chrono::seconds(5));
  ASSERT_EQ(got.size(), 5u + 47 * 3);
  EXPECT_TRUE(std::equal(got.begin(), got.begin() + 5, kx::kAckLong));
  EXPECT_EQ(DecodeStream(got).stats.packets, 3u);
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);

  SimProcess missing({"--device", "/nonexistent/tty"});
  EXPECT_EQ(missing.Wait(), 1);
  EXPECT_NE(missing.Stderr().find("/nonexistent/tty"), std::string::npos);
}

// The real protocol object on the real serial port, as the window uses it.
TEST(SimExecutable, TheProtocolObjectDrivesIt) {
  SimProcess sim({"--link", TempPath("protocol-link"), "--baud", "460800"});
  ASSERT_FALSE(sim.FirstLine().empty());
  KXProtocol protocol;
  ASSERT_TRUE(protocol.Connect(TempPath("protocol-link"), 460800));
  ASSERT_TRUE(protocol.EnableLidar());

  std::vector<KXScanPoint> points;
  auto deadline = std::chrono::steady_clock::now() + 5s;
  while (points.size() < 2 * 450 && std::chrono::steady_clock::now() < deadline) {
    auto more = protocol.TakeScanPoints();
    points.insert(points.end(), more.begin(), more.end());
    usleep(10000);
  }
  ASSERT_GE(points.size(), 2u * 450);
  sim::SimScene scene;
  size_t offTruth = 0;
  for (const KXScanPoint& p : points)
    offTruth += std::fabs(p.distance - scene.TrueDistanceMm(p.angle)) > sim::ScanGenerator::kNoiseBoundMm + 0.5;
  // Only points right on the edge of an object may miss.
  EXPECT_LE(offTruth, 4u);
  float rpm = 0;
  uint16_t ts = 0;
  protocol.GetSpeedAndTimestamp(&rpm, &ts);
  EXPECT_FLOAT_EQ(rpm, 600.0f);

  EXPECT_TRUE(protocol.DisableLidar());
  EXPECT_EQ(protocol.GetLinkStats().crcErrors, 0u);
  protocol.Disconnect();
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);
}

}  // namespace
