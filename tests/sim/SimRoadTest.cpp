// lds-sim driven over its pseudo-terminal by the real protocol object.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <regex>

#include "protocol/KXProtocol.h"
#include "sim/SimScene.h"
#include "tests/support/TextFile.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Connects, starts, takes points until `enough`, stops and takes the rest.
std::vector<KXScanPoint> Receive(const std::string& port, size_t enough, KXLinkStats& stats) {
  KXProtocol protocol;
  std::vector<KXScanPoint> points;
  auto take = [&] {
    for (const KXScanPoint& p : protocol.TakeScanPoints()) points.push_back(p);
    return points.size() >= enough;
  };
  EXPECT_TRUE(protocol.Connect(port, 230400));
  EXPECT_TRUE(protocol.EnableLidar());
  EXPECT_TRUE(WaitFor(take, 20s));
  EXPECT_TRUE(protocol.DisableLidar());
  std::this_thread::sleep_for(300ms);
  take();
  stats = protocol.GetLinkStats();
  protocol.Disconnect();
  return points;
}

TEST(SimRoad, StreamsTheRoomWithCountedFaultsAndReplaysItsCapture) {
  char name[] = "/tmp/lds-sim-road-XXXXXX";
  const fs::path dir = mkdtemp(name);
  const std::string link = (dir / "link").string(), stats = (dir / "stats").string(), capture = (dir / "cap").string();
  // A link that an earlier simulator left behind, to a terminal that is gone.
  ASSERT_EQ(symlink("/dev/pts/99999", link.c_str()), 0);
  ChildProcess sim({LDS_SIM_PATH, "--link", link, "--bad-crc-every", "10", "--garbage-every", "7", "--garbage-bytes",
                    "5", "--stats-file", stats, "--capture", capture});
  const std::string pty = sim.FirstLine();
  ASSERT_EQ(fs::read_symlink(link), pty) << sim.Err();

  KXLinkStats live{};
  const std::vector<KXScanPoint> points = Receive(link, 900, live);
  // Nothing is sent once stopped; the counters are final after the stop's answer.
  const long packets = Stat(stats, "packets");
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(Stat(stats, "packets"), packets);
  EXPECT_EQ(static_cast<long>(live.packets + live.crcErrors), packets);
  EXPECT_EQ(static_cast<long>(live.crcErrors), Stat(stats, "bad_crc"));
  EXPECT_EQ(static_cast<long>(live.skippedBytes), Stat(stats, "garbage_bytes"));
  EXPECT_EQ(points.size(), live.packets * 12);

  // Two turns of the room, each point at its distance.
  const sim::SimScene scene;
  size_t onTarget = 0;
  for (const KXScanPoint& p : points) onTarget += std::abs(p.distance - scene.TrueDistanceMm(p.angle)) <= 10;
  EXPECT_GT(onTarget, points.size() * 95 / 100);

  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));

  ChildProcess replay({LDS_SIM_PATH, "--replay", capture, "--wait-start"});
  KXLinkStats replayed{};
  const std::vector<KXScanPoint> again = Receive(replay.FirstLine(), points.size(), replayed);
  ASSERT_EQ(again.size(), points.size());
  for (size_t i = 0; i < points.size(); ++i) {
    ASSERT_EQ(again[i].angle, points[i].angle) << i;
    ASSERT_EQ(again[i].distance, points[i].distance) << i;
  }
  EXPECT_EQ(replayed.crcErrors, live.crcErrors);
  fs::remove_all(dir);
}

}  // namespace
