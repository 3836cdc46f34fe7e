// The whole road of a measurement: the real simulator on a pseudo-terminal,
// a real protocol object on the other end, and the assembler fed by polling
// the point queue every 10 ms, as the window's worker does.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "protocol/KXProtocol.h"
#include "scan/FrameAssembler.h"
#include "sim/SimScene.h"
#include "tests/support/ChildProcess.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// The distance to the wall straight ahead of the sensor at `angle`, for
// angles within 20 degrees of one of the four axes, where the room's walls
// are in plain view (the pillar and the box lie elsewhere).
bool WallDistance(double angle, double* distance) {
  const double toWall[4] = {sim::SimScene::kRoomWidthMm - sim::SimScene::kSensorXMm,
                            sim::SimScene::kRoomDepthMm - sim::SimScene::kSensorYMm, sim::SimScene::kSensorXMm,
                            sim::SimScene::kSensorYMm};
  for (int axis = 0; axis < 4; ++axis) {
    double off = angle - 90.0 * axis;
    if (off > 180.0) off -= 360.0;
    if (std::fabs(off) <= 20.0) {
      *distance = toWall[axis] / std::cos(off / 180.0 * kPi);
      return true;
    }
  }
  return false;
}

}  // namespace

TEST(EndToEnd, SimulatedRoomAppearsOneFramePerRevolution) {
  ChildProcess simulator({LDS_SIM_PATH, "--rps", "10", "--seed", "5"});
  const std::string port = simulator.FirstLine();
  ASSERT_FALSE(port.empty()) << "lds-sim did not start";

  KXProtocol protocol;
  ASSERT_TRUE(protocol.Connect(port, 230400));
  ASSERT_TRUE(protocol.EnableLidar());

  ScanFilter filter;
  FrameAssembler assembler(filter);
  ScanSettings settings;
  settings.enableAngleCalib = false;  // keep the sensor's own angles

  sim::SimScene scene;
  int frames = 0;
  int wraps = 0;
  int checkedFrames = 0;
  float previousAngle = -1.0f;
  std::chrono::steady_clock::time_point firstFrame;
  std::chrono::steady_clock::time_point lastFrame;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(2600);
  while (std::chrono::steady_clock::now() < deadline) {
    std::vector<KXScanPoint> batch = protocol.TakeScanPoints();
    for (const KXScanPoint& p : batch) {
      if (previousAngle >= 0.0f && p.angle + 180.0f < previousAngle) ++wraps;
      previousAngle = p.angle;
    }
    const auto result = assembler.Step(std::move(batch), settings, false);
    EXPECT_EQ(result.anomaly, FrameAssembler::Anomaly::None);
    if (result.frameReady) {
      lastFrame = std::chrono::steady_clock::now();
      if (frames++ == 0) {
        firstFrame = lastFrame;
        continue;  // the first frame holds only part of a sweep
      }
      ASSERT_EQ(result.frame.size(), 600u);
      int filled = 0;
      int onWalls = 0;
      int offTruth = 0;
      for (const KXScanPoint& p : result.frame) {
        if (p.distance == 0) continue;
        ++filled;
        // The simulator's noise is bounded by 10 mm; one more for rounding.
        if (std::fabs(p.distance - scene.TrueDistanceMm(p.angle)) > 11.0) ++offTruth;
        double wall = 0.0;
        if (WallDistance(p.angle, &wall)) {
          ++onWalls;
          EXPECT_NEAR(p.distance, wall, 11.0) << "angle " << p.angle;
        }
      }
      // 4500 points per second at 10 revolutions: 450 points, 0.8 degrees
      // apart; a badly stalled simulator may skip a packet or two.
      EXPECT_GE(filled, 420);
      EXPECT_GE(onWalls, 190);
      EXPECT_LE(offTruth, 2);  // only points right on an edge of the pillar or the box
      ++checkedFrames;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  protocol.DisableLidar();
  protocol.Disconnect();

  // Exactly one frame for every pass through 0 degrees, at the simulator's
  // rotation speed of 10 per second.
  EXPECT_EQ(frames, wraps);
  ASSERT_GE(frames, 10);
  const double seconds = std::chrono::duration<double>(lastFrame - firstFrame).count();
  EXPECT_NEAR((frames - 1) / seconds, 10.0, 1.5);
  EXPECT_GE(checkedFrames, 9);

  float rpm = 0.0f;
  uint16_t timestamp = 0;
  protocol.GetSpeedAndTimestamp(&rpm, &timestamp);
  EXPECT_NEAR(rpm, 600.0f, 1.0f);
}
