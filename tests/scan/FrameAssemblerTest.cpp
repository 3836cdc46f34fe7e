#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "scan/FrameAssembler.h"

namespace {

using Outcome = FrameAssembler::Outcome;
using Anomaly = FrameAssembler::Anomaly;

// Settings with every correction and filter off, so angles are the sensor's.
ScanSettings Plain() {
  ScanSettings s;
  s.enableAngleCalib = false;
  return s;
}

ScanSettings AllOn() {
  ScanSettings s;
  s.enableAngleCalib = true;
  s.enableAlgoFilter = true;
  s.enableDistCorrect = true;
  s.enableAngleEdgeFilter = true;
  s.enableWaterNoiseFilter = true;
  return s;
}

// `count` points from `start` degrees on, `step` apart, wrapped into [0, 360).
std::vector<KXScanPoint> Batch(float start, int count, float step = 0.5f, uint16_t distance = 1000) {
  std::vector<KXScanPoint> batch;
  for (int i = 0; i < count; ++i) {
    float angle = start + step * i;
    if (angle >= 360.0f) angle -= 360.0f;
    batch.push_back(KXScanPoint{angle, distance, 100});
  }
  return batch;
}

int Filled(const std::vector<KXScanPoint>& frame) {
  int n = 0;
  for (const KXScanPoint& p : frame) n += p.distance != 0;
  return n;
}

class Assembly : public ::testing::Test {
 protected:
  ScanFilter filter;
  FrameAssembler assembler{filter};
};

}  // namespace

TEST(SlotOfAngle, RoundsToTheNearestSlotAndWrapsOnlyTheLastHalfSlot) {
  EXPECT_EQ(FrameAssembler::SlotOfAngle(0.0f), 0);
  EXPECT_EQ(FrameAssembler::SlotOfAngle(0.29f), 0);
  EXPECT_EQ(FrameAssembler::SlotOfAngle(0.31f), 1);
  EXPECT_EQ(FrameAssembler::SlotOfAngle(-0.8f), 0);  // truncation toward zero
  EXPECT_EQ(FrameAssembler::SlotOfAngle(-1.0f), -1);
  EXPECT_EQ(FrameAssembler::SlotOfAngle(359.6f), 599);
  EXPECT_EQ(FrameAssembler::SlotOfAngle(359.8f), 600);
  EXPECT_EQ(FrameAssembler::SlotOfAngle(std::numeric_limits<float>::quiet_NaN()), -1);
  EXPECT_EQ(FrameAssembler::SlotOfAngle(1e30f), -1);

  EXPECT_EQ(FrameAssembler::FilingSlot(359.8f), 0);  // same direction as 0 degrees
  EXPECT_EQ(FrameAssembler::FilingSlot(360.0f), 0);
  EXPECT_EQ(FrameAssembler::FilingSlot(360.4f), -1);
  EXPECT_EQ(FrameAssembler::FilingSlot(-1.0f), -1);
  EXPECT_EQ(FrameAssembler::FilingSlot(-std::numeric_limits<float>::infinity()), -1);
}

TEST_F(Assembly, SteadyRotationGivesOneFramePerRevolution) {
  // 24 points of 0.5 degrees per poll: a revolution every 30 polls, and the
  // crossing batches start a little later each turn.
  int frames = 0;
  float angle = 0.25f;
  float previousEnd = 0.0f;
  for (int poll = 0; poll < 95; ++poll) {
    const std::vector<KXScanPoint> batch = Batch(angle, 24);
    angle = std::fmod(angle + 12.0f, 360.0f);
    // The batch reaching 0 degrees (from 359.7 on, the half slot before it)
    // completes the revolution.
    const float end = batch.back().angle;
    const bool crosses = (end < 12.0f || end >= 359.7f) && !(previousEnd < 12.0f || previousEnd >= 359.7f);
    previousEnd = end;
    const auto result = assembler.Step(batch, Plain(), false);
    ASSERT_EQ(result.outcome, Outcome::Filed);
    ASSERT_EQ(result.anomaly, Anomaly::None) << poll;
    ASSERT_EQ(result.frameReady, crosses && poll > 0) << poll;
    if (!result.frameReady) continue;
    ++frames;
    ASSERT_EQ(result.frame.size(), 600u);
    EXPECT_EQ(result.frame, assembler.Slots());
    // A full sweep: every slot is filled (0.5-degree points cover every 0.6-degree slot).
    EXPECT_EQ(Filled(result.frame), 600) << poll;
  }
  EXPECT_EQ(frames, 3);
}

TEST_F(Assembly, FrameHoldsTheNewBatchAndThePreviousSweep) {
  for (float a = 0.0f; a < 359.0f; a += 12.0f) assembler.Step(Batch(a, 24, 0.5f, 1000), Plain(), false);
  // The crossing batch from 354 to 5.5 degrees at a new distance.
  const auto result = assembler.Step(Batch(354.0f, 24, 0.5f, 2000), Plain(), false);
  ASSERT_TRUE(result.frameReady);
  const int end = FrameAssembler::SlotOfAngle(5.5f);
  for (int k = 0; k < 600; ++k) {
    const bool newest = k <= end || k >= FrameAssembler::SlotOfAngle(354.0f);
    EXPECT_EQ(result.frame[k].distance, newest ? 2000 : 1000) << k;
  }
}

TEST_F(Assembly, NoFrameUntilTheSweepJumpsBackHalfATurn) {
  EXPECT_FALSE(assembler.Step(Batch(100.0f, 12), Plain(), false).frameReady);
  EXPECT_EQ(assembler.LastEndSlot(), FrameAssembler::SlotOfAngle(105.5f));
  EXPECT_FALSE(assembler.Step(Batch(250.0f, 12), Plain(), false).frameReady);
  // 255.5 -> 90: 276 slots back, short of half a turn.
  auto result = assembler.Step(Batch(84.5f, 12), Plain(), false);
  EXPECT_FALSE(result.frameReady);
  EXPECT_EQ(result.anomaly, Anomaly::AbnormalAngleChange);
  EXPECT_EQ(assembler.Step(Batch(260.0f, 12), Plain(), false).anomaly, Anomaly::None);
  result = assembler.Step(Batch(70.0f, 12), Plain(), false);  // 265.5 -> 75.5: 318 slots back
  EXPECT_TRUE(result.frameReady);
  EXPECT_EQ(result.anomaly, Anomaly::None);
}

TEST_F(Assembly, ClearingBetweenEndSlots) {
  assembler.Step(Batch(10.0f, 12, 0.6f), Plain(), false);  // ends at 16.6 degrees, slot 28
  ASSERT_EQ(assembler.LastEndSlot(), 28);
  // Plant points ahead of the sweep: forward movement must clear them.
  std::vector<KXScanPoint> lonely = {KXScanPoint{30.0f, 500, 9}, KXScanPoint{16.8f, 500, 9}};
  assembler.Step(lonely, Plain(), false);  // ends in slot 28 again: clears nothing
  EXPECT_EQ(assembler.Slots()[50].distance, 500);
  EXPECT_EQ(assembler.Slots()[28].distance, 500);
  EXPECT_EQ(assembler.Slots()[27].distance, 1000);
  assembler.Step(Batch(40.0f, 1), Plain(), false);  // slot 67: clears 29..66 before filing
  EXPECT_EQ(assembler.Slots()[50].distance, 0);
  EXPECT_EQ(assembler.Slots()[28].distance, 500);
  EXPECT_EQ(assembler.Slots()[67].distance, 1000);
}

TEST_F(Assembly, SmallBackwardJumpIsReportedFiledAndNotCleared) {
  assembler.Step(Batch(60.0f, 121, 0.5f), Plain(), false);  // fills 60..120 degrees, ends in slot 200
  ASSERT_EQ(assembler.LastEndSlot(), 200);
  const auto result = assembler.Step({KXScanPoint{90.0f, 3000, 5}}, Plain(), false);  // slot 150
  EXPECT_EQ(result.outcome, Outcome::Filed);
  EXPECT_EQ(result.anomaly, Anomaly::AbnormalAngleChange);
  EXPECT_EQ(result.lastEndAngle, 120.0f);
  EXPECT_EQ(result.endAngle, 90.0f);
  EXPECT_FALSE(result.frameReady);
  EXPECT_EQ(assembler.Slots()[150].distance, 3000);
  EXPECT_EQ(assembler.Slots()[180].distance, 1000);
  // The next forward batch clears from slot 151 on.
  assembler.Step({KXScanPoint{108.0f, 4000, 5}}, Plain(), false);  // slot 180
  EXPECT_EQ(assembler.Slots()[150].distance, 3000);
  EXPECT_EQ(assembler.Slots()[151].distance, 0);
  EXPECT_EQ(assembler.Slots()[179].distance, 0);
  EXPECT_EQ(assembler.Slots()[180].distance, 4000);
  EXPECT_EQ(assembler.Slots()[181].distance, 1000);
}

TEST_F(Assembly, BatchEndingOutsideEverySlotIsDroppedWhole) {
  assembler.Step(Batch(10.0f, 12), Plain(), false);
  for (int i = 0; i < 5; ++i) assembler.Step({}, Plain(), false);
  const std::vector<KXScanPoint> before = assembler.Slots();
  const int endSlot = assembler.LastEndSlot();
  const auto result = assembler.Step({KXScanPoint{20.0f, 700, 1}, KXScanPoint{361.0f, 700, 1}}, Plain(), true);
  EXPECT_EQ(result.outcome, Outcome::Dropped);
  EXPECT_EQ(result.anomaly, Anomaly::AbnormalAngle);
  EXPECT_EQ(result.endAngle, 361.0f);
  EXPECT_TRUE(result.csvRows.empty());
  EXPECT_FALSE(result.frameReady);
  EXPECT_EQ(assembler.Slots(), before);
  EXPECT_EQ(assembler.LastEndSlot(), endSlot);
  EXPECT_EQ(assembler.IdleCount(), 5);  // a dropped batch is not data flowing

  // An angle outside every slot inside an accepted batch is skipped silently.
  const auto filed = assembler.Step({KXScanPoint{-5.0f, 700, 1}, KXScanPoint{20.0f, 700, 1}}, Plain(), true);
  EXPECT_EQ(filed.outcome, Outcome::Filed);
  EXPECT_EQ(filed.anomaly, Anomaly::None);
  ASSERT_EQ(filed.csvRows.size(), 1u);
  EXPECT_EQ(filed.csvRows[0].angle, 20.0f);
}

TEST_F(Assembly, LastHalfSlotBeforeZeroIsFiledAtZero) {
  // A sensor reporting 359.8 degrees is pointing almost exactly at 0: the
  // batch is filed (at slot 0) and completes the revolution.
  assembler.Step(Batch(300.0f, 100, 0.5f), Plain(), false);
  const auto result = assembler.Step(Batch(354.3f, 12, 0.5f), Plain(), true);  // ends at 359.8
  EXPECT_EQ(result.outcome, Outcome::Filed);
  EXPECT_EQ(result.anomaly, Anomaly::None);
  EXPECT_TRUE(result.frameReady);
  EXPECT_EQ(result.csvRows.size(), 12u);
  EXPECT_EQ(assembler.Slots()[0].angle, 359.8f);
  EXPECT_EQ(assembler.LastEndSlot(), 0);
}

TEST_F(Assembly, IdleCountReportsTimeoutFromThe101stEmptyPoll) {
  assembler.Step(Batch(10.0f, 12), Plain(), false);
  for (int i = 1; i <= 100; ++i) ASSERT_EQ(assembler.Step({}, Plain(), false).outcome, Outcome::Idle) << i;
  EXPECT_EQ(assembler.Step({}, Plain(), false).outcome, Outcome::IdleTimeout);
  EXPECT_EQ(assembler.Step({}, Plain(), false).outcome, Outcome::IdleTimeout);
  EXPECT_EQ(assembler.IdleCount(), 100);
  assembler.Reset();
  EXPECT_EQ(assembler.Step({}, Plain(), false).outcome, Outcome::IdleTimeout);  // reset keeps the count
  assembler.Step(Batch(20.0f, 12), Plain(), false);
  EXPECT_EQ(assembler.IdleCount(), 0);
  EXPECT_EQ(assembler.Step({}, Plain(), false).outcome, Outcome::Idle);
}

TEST_F(Assembly, ResetEmptiesTheSlotsButKeepsTheSweepPosition) {
  assembler.Step(Batch(100.0f, 24), Plain(), false);
  const int endSlot = assembler.LastEndSlot();
  const std::vector<KXScanPoint> frame = assembler.Reset();
  ASSERT_EQ(frame.size(), 600u);
  EXPECT_EQ(Filled(frame), 0);
  EXPECT_EQ(assembler.Slots(), frame);
  EXPECT_EQ(assembler.LastEndSlot(), endSlot);
  // Still a forward batch after the reset, so no frame.
  EXPECT_FALSE(assembler.Step(Batch(115.0f, 12), Plain(), false).frameReady);
}

TEST_F(Assembly, CsvRowsAreThePointsAsFiledInOrder) {
  ScanSettings settings = Plain();
  settings.enableAngleCalib = true;
  settings.enableDistCorrect = true;
  const auto result = assembler.Step(Batch(45.0f, 3, 1.0f, 500), settings, true);
  ASSERT_EQ(result.csvRows.size(), 3u);
  EXPECT_EQ(result.csvRows[0].angle, ScanFilter::CalibrateAngle(45.0f));
  EXPECT_EQ(result.csvRows[2].angle, ScanFilter::CalibrateAngle(47.0f));
  for (const KXScanPoint& row : result.csvRows) {
    EXPECT_EQ(row.distance, 559);
    EXPECT_EQ(assembler.Slots()[FrameAssembler::SlotOfAngle(row.angle)], row);
  }
  EXPECT_TRUE(assembler.Step(Batch(50.0f, 3), settings, false).csvRows.empty());
}

TEST_F(Assembly, PerPointFilterHoldsBackTheFirstEightPoints) {
  ScanSettings settings = Plain();
  settings.enableAlgoFilter = true;
  const auto first = assembler.Step(Batch(10.0f, 8, 0.6f), settings, true);
  EXPECT_EQ(first.outcome, Outcome::Filed);
  EXPECT_TRUE(first.csvRows.empty());
  EXPECT_EQ(Filled(assembler.Slots()), 0);
  const auto second = assembler.Step(Batch(14.8f, 4, 0.6f), settings, true);
  ASSERT_EQ(second.csvRows.size(), 4u);
  EXPECT_FLOAT_EQ(second.csvRows[0].angle, 10.0f + 6 * 0.6f);  // two inputs behind
  EXPECT_EQ(Filled(assembler.Slots()), 4);
}

TEST_F(Assembly, PropertiesOfARandomisedRun) {
  // Two assemblers see the same noisy batches, one with the frame filters
  // and one without: the frame filters must change only the published frame.
  ScanFilter plainFilter;
  FrameAssembler reference{plainFilter};
  ScanSettings filtered = AllOn();
  ScanSettings unfiltered = AllOn();
  unfiltered.enableWaterNoiseFilter = false;
  unfiltered.enableAngleEdgeFilter = false;

  std::mt19937 rng(7);
  std::uniform_int_distribution<int> distance(50, 3000);
  std::uniform_int_distribution<int> intensity(0, 120);
  std::uniform_int_distribution<int> packets(0, 3);
  float angle = 0.0f;
  int frames = 0;
  for (int poll = 0; poll < 600; ++poll) {
    std::vector<KXScanPoint> batch;
    const int count = 12 * packets(rng);
    for (int i = 0; i < count; ++i) {
      batch.push_back(KXScanPoint{angle, static_cast<uint16_t>(distance(rng)), static_cast<uint8_t>(intensity(rng))});
      angle += 0.55f;
      if (angle >= 360.0f) angle -= 360.0f;
    }
    const auto a = assembler.Step(batch, filtered, true);
    const auto b = reference.Step(batch, unfiltered, true);
    ASSERT_EQ(a.outcome, b.outcome);
    ASSERT_EQ(a.csvRows, b.csvRows);
    ASSERT_EQ(assembler.Slots(), reference.Slots());
    ASSERT_EQ(a.frameReady, b.frameReady);
    if (!a.frameReady) continue;
    ++frames;
    ASSERT_EQ(a.frame.size(), 600u);
    ASSERT_EQ(b.frame.size(), 600u);
    for (int k = 0; k < 600; ++k) {
      const KXScanPoint& p = b.frame[k];
      // Calibrated angles keep clear of every sector boundary.
      if (p.distance != 0) {
        const float offset = p.angle - 60.0f * std::floor(p.angle / 60.0f);
        ASSERT_GE(offset, 7.9175f);
        ASSERT_LT(offset, 52.0825f);
      }
      // The filtered frame only ever clears points.
      if (a.frame[k].distance != 0) {
        ASSERT_EQ(a.frame[k], p);
      }
    }
    for (int k : {0, 12, 588, 599}) ASSERT_EQ(b.frame[k].distance, 0);
  }
  EXPECT_GE(frames, 5);
}
