// lds-sim as a host meets it: a real pseudo-terminal, real signals, real files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>

#include "SimDecode.h"
#include "protocol/KXPacket.h"
#include "sim/SimPacket.h"
#include "sim/SimScene.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PtyPair.h"

namespace {

using namespace std::chrono_literals;

const std::vector<uint8_t> kStart(kx::kCmdEnable, kx::kCmdEnable + 5);
const std::vector<uint8_t> kStop(kx::kCmdDisable, kx::kCmdDisable + 5);

std::string TempPath(const std::string& name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir ? dir : "/tmp") + "/lds-sim-test-" + std::to_string(getpid()) + "-" + name;
}

// The command line of lds-sim with these options.
std::vector<std::string> SimArgs(std::vector<std::string> options) {
  options.insert(options.begin(), LDS_SIM_EXE);
  return options;
}

// The host's end of the terminal the simulator printed, opened raw.
class SimTerminal {
 public:
  SimTerminal() = default;
  SimTerminal(const SimTerminal&) = delete;
  SimTerminal& operator=(const SimTerminal&) = delete;
  ~SimTerminal() {
    if (fd_ >= 0) close(fd_);
  }

  bool Open(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd_ < 0) return false;
    termios tio{};
    tcgetattr(fd_, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd_, TCSANOW, &tio);
    return true;
  }
  void Write(const std::vector<uint8_t>& bytes) { (void)!write(fd_, bytes.data(), bytes.size()); }

  // Reads until `count` bytes arrived, the line stays quiet for `quiet`, or
  // it is hung up.
  std::vector<uint8_t> Read(size_t count, std::chrono::milliseconds quiet = std::chrono::seconds(5)) {
    std::vector<uint8_t> got;
    hungUp_ = false;
    while (got.size() < count) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(quiet.count())) <= 0) break;
      uint8_t buf[4096];
      ssize_t n = read(fd_, buf, std::min(sizeof buf, count - got.size()));
      if (n <= 0) {
        hungUp_ = true;
        break;
      }
      got.insert(got.end(), buf, buf + n);
    }
    return got;
  }
  bool HungUp() const { return hungUp_; }

 private:
  int fd_ = -1;
  bool hungUp_ = false;
};

// A counter of the summary line or the stats file, e.g. "packets=12".
uint64_t Counter(const std::string& text, const std::string& key) {
  for (size_t at = text.find(key + "="); at != std::string::npos; at = text.find(key + "=", at + 1)) {
    if (at == 0 || text[at - 1] == ' ' || text[at - 1] == '\n') return std::stoull(text.substr(at + key.size() + 1));
  }
  return UINT64_MAX;
}

TEST(SimExecutable, AnswersCommandsAndStreamsOnlyWhileStarted) {
  std::string stats = TempPath("stats-commands");
  ChildProcess sim(SimArgs({"--stats-file", stats}));
  std::string path = sim.FirstLine();
  ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
  SimTerminal tty;
  ASSERT_TRUE(tty.Open(path));
  EXPECT_TRUE(tty.Read(1, 200ms).empty()) << "streams before the start command";

  // The start frame split over two writes, with junk around it.
  tty.Write({0x00, 0x13, 0xA5, 0x5A});
  usleep(20000);
  tty.Write({0x01, 0x00, 0x00, 0xFF});
  EXPECT_EQ(tty.Read(2), (std::vector<uint8_t>{0x4F, 0x4B}));
  std::vector<uint8_t> stream = tty.Read(47 * 100);
  ASSERT_EQ(stream.size(), 47u * 100);

  tty.Write(kStop);
  std::vector<uint8_t> tail = tty.Read(SIZE_MAX, 300ms);
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
  EXPECT_EQ(Counter(ReadFile(stats), "packets"), d.stats.packets);

  sim.Signal(SIGINT);
  ASSERT_EQ(sim.Wait(), 0);
  std::string summary = sim.Err();
  EXPECT_EQ(Counter(summary, "packets"), d.stats.packets) << summary;
  EXPECT_EQ(Counter(summary, "points"), d.points.size()) << summary;
  EXPECT_EQ(Counter(summary, "bytes"), stream.size() + 4) << summary;
  unlink(stats.c_str());
}

TEST(SimExecutable, AcknowledgementStyles) {
  {
    ChildProcess sim(SimArgs({"--ack", "long"}));
    SimTerminal tty;
    ASSERT_TRUE(tty.Open(sim.FirstLine()));
    tty.Write(kStop);
    EXPECT_EQ(tty.Read(5), (std::vector<uint8_t>(kx::kAckLong, kx::kAckLong + 5)));
  }
  {
    ChildProcess sim(SimArgs({"--no-ack"}));
    SimTerminal tty;
    ASSERT_TRUE(tty.Open(sim.FirstLine()));
    tty.Write(kStart);
    std::vector<uint8_t> got = tty.Read(47 * 5);
    ASSERT_EQ(got.size(), 47u * 5);
    EXPECT_EQ(got[0], kx::kPacketHeader) << "a silent sensor still streams";
  }
}

TEST(SimExecutable, KeepsLinkAndRemovesItOnSigterm) {
  std::string link = TempPath("link");
  ASSERT_EQ(symlink("/nonexistent/stale", link.c_str()), 0);
  ChildProcess sim(SimArgs({"--link", link}));
  std::string path = sim.FirstLine();
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(path, target);
  SimTerminal tty;
  ASSERT_TRUE(tty.Open(link));
  tty.Write(kStart);
  EXPECT_EQ(tty.Read(2), (std::vector<uint8_t>{0x4F, 0x4B}));
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);
  struct stat st {};
  EXPECT_NE(lstat(link.c_str(), &st), 0) << "link left behind";
  unlink(link.c_str());

  // A second instance takes the name over; the first one leaves it alone.
  {
    ChildProcess first(SimArgs({"--link", link}));
    first.FirstLine();
    ChildProcess second(SimArgs({"--link", link}));
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
  ChildProcess refused(SimArgs({"--link", file}));
  EXPECT_EQ(refused.Wait(), 1);
  EXPECT_EQ(ReadFile(file), "keep");
  unlink(file.c_str());
}

TEST(SimExecutable, HelpAndBadArguments) {
  ChildProcess help(SimArgs({"--help"}));
  EXPECT_EQ(help.Wait(), 0);
  EXPECT_NE(help.Out().find("--bad-crc-every"), std::string::npos);

  ChildProcess bad(SimArgs({"--pps", "lots"}));
  EXPECT_EQ(bad.Wait(), 2);
  EXPECT_TRUE(bad.Out().empty());
  EXPECT_NE(bad.Err().find("Usage"), std::string::npos);
}

TEST(SimExecutable, FaultsAndHangupMatchTheCounters) {
  std::string stats = TempPath("stats");
  ChildProcess sim(SimArgs({"--autostart", "--pps", "max", "--bad-crc-every", "5", "--garbage-every", "3",
                            "--garbage-bytes", "7", "--hangup-after", "61", "--seed", "3", "--stats-file", stats}));
  SimTerminal tty;
  ASSERT_TRUE(tty.Open(sim.FirstLine()));
  std::vector<uint8_t> got = tty.Read(SIZE_MAX);
  EXPECT_TRUE(tty.HungUp());
  ASSERT_EQ(sim.Wait(), 0);

  DecodedStream d = DecodeStream(got, 97);
  // The last packet follows the last junk, so the receiver has passed it all.
  EXPECT_EQ(d.stats.packets, 49u);
  EXPECT_EQ(d.stats.crcErrors, 12u);
  EXPECT_EQ(d.stats.skippedBytes, 20u * 7);
  EXPECT_EQ(got.size(), 61u * 47 + 20 * 7);

  std::string text = ReadFile(stats);
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
    ChildProcess sim(SimArgs({"--capture", capture, "--hangup-after", "40", "--garbage-every", "7"}));
    SimTerminal tty;
    ASSERT_TRUE(tty.Open(sim.FirstLine()));
    tty.Write(kStart);
    live = tty.Read(SIZE_MAX);
    ASSERT_EQ(sim.Wait(), 0);
  }
  std::string recorded = ReadFile(capture);
  ASSERT_EQ(recorded.size(), 2 + 40u * 47 + 5 * 8);
  EXPECT_EQ(recorded, std::string(live.begin(), live.end()));

  {
    ChildProcess replay(SimArgs({"--replay", capture}));
    SimTerminal tty;
    ASSERT_TRUE(tty.Open(replay.FirstLine()));
    std::vector<uint8_t> again = tty.Read(recorded.size());
    EXPECT_EQ(std::string(again.begin(), again.end()), recorded);
    EXPECT_TRUE(tty.Read(1, 200ms).empty()) << "sent more than the file";
    replay.Signal(SIGTERM);
    ASSERT_EQ(replay.Wait(), 0);
    std::string summary = replay.Err();
    EXPECT_EQ(Counter(summary, "packets"), 40u) << summary;
    EXPECT_EQ(Counter(summary, "garbage_bytes"), 5u * 8) << summary;
    EXPECT_EQ(Counter(summary, "acks"), 1u) << summary;
  }
  {
    ChildProcess replay(SimArgs({"--replay", capture, "--wait-start", "--ack", "long"}));
    SimTerminal tty;
    ASSERT_TRUE(tty.Open(replay.FirstLine()));
    EXPECT_TRUE(tty.Read(1, 200ms).empty()) << "replayed before the start command";
    tty.Write(kStart);
    std::vector<uint8_t> again = tty.Read(5 + recorded.size());
    ASSERT_EQ(again.size(), 5 + recorded.size());
    EXPECT_EQ(std::string(again.begin() + 5, again.end()), recorded);
  }
  unlink(capture.c_str());
}

TEST(SimExecutable, DrivesAGivenDevice) {
  PtyPair pty;  // the simulator takes the slave; the test is the host on the master
  ChildProcess sim(SimArgs({"--device", pty.SlavePath(), "--ack", "long"}));
  EXPECT_EQ(sim.FirstLine(), pty.SlavePath());
  pty.Write(kStart);
  std::vector<uint8_t> got = pty.Read(5 + 47 * 3, std::chrono::seconds(5));
  ASSERT_EQ(got.size(), 5u + 47 * 3);
  EXPECT_TRUE(std::equal(got.begin(), got.begin() + 5, kx::kAckLong));
  EXPECT_EQ(DecodeStream(got).stats.packets, 3u);
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);

  ChildProcess missing(SimArgs({"--device", "/nonexistent/tty"}));
  EXPECT_EQ(missing.Wait(), 1);
  EXPECT_NE(missing.Err().find("/nonexistent/tty"), std::string::npos);
}

// The real protocol object on the real serial port, as the window uses it.
TEST(SimExecutable, TheProtocolObjectDrivesIt) {
  ChildProcess sim(SimArgs({"--link", TempPath("protocol-link"), "--baud", "460800"}));
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
