// The slot rule, the corrections and filters, and the assembler's filing,
// clearing and revolution rule, fed directly.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "scan/FrameAssembler.h"

namespace {

using Outcome = FrameAssembler::Outcome;
using Anomaly = FrameAssembler::Anomaly;
using Points = std::vector<KXScanPoint>;

// `count` points from `start` on, `step` degrees apart.
Points Sweep(float start, int count, float step, uint16_t distance, uint8_t intensity = 100) {
  Points points;
  for (int i = 0; i < count; ++i) points.push_back({start + step * i, distance, intensity});
  return points;
}

}  // namespace

TEST(Scan, SlotRule) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const struct {
    float angle;
    int slot, filing;
  } cases[] = {{0.0f, 0, 0},      {0.29f, 0, 0},      {0.31f, 1, 1},    {-0.8f, 0, 0},
               {-1.0f, -1, -1},   {359.6f, 599, 599}, {359.8f, 600, 0}, {360.0f, 600, 0},
               {360.4f, 601, -1}, {nan, -1, -1},      {1e30f, -1, -1},  {-INFINITY, -1, -1}};
  for (const auto& c : cases) {
    EXPECT_EQ(FrameAssembler::SlotOfAngle(c.angle), c.slot) << c.angle;
    EXPECT_EQ(FrameAssembler::FilingSlot(c.angle), c.filing) << c.angle;
  }
}

TEST(Scan, Corrections) {
  const std::pair<float, float> angles[] = {{0.0f, 7.91759f},   {10.0f, 15.0985f},  {30.0f, 30.0f},   {45.0f, 41.2214f},
                                            {200.0f, 202.498f}, {359.9f, 352.012f}, {60.0f, 67.9176f}};
  for (const auto& [in, out] : angles) EXPECT_NEAR(ScanFilter::CalibrateAngle(in), out, 2e-3) << in;
  const std::pair<uint16_t, uint16_t> distances[] = {{0, 0},     {1, 66},    {400, 465},     {401, 465},    {500, 559},
                                                     {750, 795}, {751, 796}, {10000, 10045}, {10001, 10001}};
  for (const auto& [in, out] : distances) EXPECT_EQ(ScanFilter::CorrectDistance(in), out) << in;

  const std::pair<float, bool> edges[] = {{9.5f, true},  {9.4f, false},  {50.5f, true},  {50.6f, false},
                                          {0.0f, false}, {129.5f, true}, {-30.0f, false}};
  for (const auto& [angle, kept] : edges) {
    Points frame = {{angle, 1000, 50}};
    ScanFilter::FilterAngleEdge(frame, 1.5f);
    EXPECT_EQ(frame[0], (kept ? KXScanPoint{angle, 1000, 50} : KXScanPoint{angle, 0, 0})) << angle;
  }
}

// The per-point filter: a range gate, a spike remover and a smoother, each
// with a window of five, so that its output lags two valid inputs.
TEST(Scan, PerPointFilter) {
  const uint16_t distances[] = {1000, 1000, 1000, 1000, 1000, 1000, 2000, 1000, 1000, 99, 10001, 1000, 1000};
  const float out[] = {0, 0, 0, 0, 0, 0, 0, 0, 0 /* spike */, 0, 0 /* out of range */, 17.0f, 18.0f};
  const float in[] = {10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22};
  ScanFilter filter;
  for (int i = 0; i < 13; ++i) {
    const KXScanPoint p = filter.FilterPoint({in[i], distances[i], 100});
    EXPECT_EQ(p, (out[i] ? KXScanPoint{out[i], 1000, 100} : KXScanPoint{})) << "input " << i;
  }

  const struct {
    const char* name;
    uint16_t d[5];
    uint16_t centre;
  } spikes[] = {{"peak", {1000, 1000, 2000, 1000, 1000}, 0},
                {"hole", {1000, 1000, 500, 1000, 1000}, 0},
                {"step, not a spike", {1000, 1000, 2000, 1990, 1990}, 2000},
                {"exactly 50 above both sides", {1000, 1000, 1050, 1000, 1000}, 1050}};
  for (const auto& c : spikes) {
    ScanFilter f;
    for (int i = 0; i < 4; ++i) f.RemoveSpike({1.0f, c.d[i], 9});
    EXPECT_EQ(f.RemoveSpike({1.0f, c.d[4], 9}).distance, c.centre) << c.name;
  }

  const struct {
    const char* name;
    float angles[5];
    uint16_t newest;
    uint8_t intensity;
    uint16_t want;
  } smooth[] = {{"weighted mean", {10, 11, 12, 13, 14}, 1100, 100, 1022},
                {"window wider than 10 degrees", {0, 3, 6, 9, 10.5f}, 3000, 7, 3000},
                {"12 degrees across 0", {350, 353, 356, 359, 2}, 3000, 7, 3000},
                {"8 degrees across 0", {355, 357, 359, 1, 3}, 1100, 100, 1022},
                {"no intensity", {10, 11, 12, 13, 14}, 1000, 0, 0}};
  for (const auto& c : smooth) {
    ScanFilter f;
    for (int i = 0; i < 4; ++i) f.SmoothPoint({c.angles[i], 1000, 100});
    EXPECT_EQ(f.SmoothPoint({c.angles[4], c.newest, c.intensity}).distance, c.want) << c.name;
  }
}

TEST(Scan, WaterNoiseFilter) {
  // Weak points within the band whose distances jump back and forth go,
  // unless protected by their distance or intensity.
  const struct {
    uint16_t distance;
    uint8_t intensity;
    bool kept;
  } cases[] = {{300, 10, true}, {1500, 10, true}, {800, 40, true}, {301, 39, false}, {1499, 10, false}};
  ScanFilter filter;
  for (const auto& c : cases) {
    Points frame(600);
    for (int i = 0; i < 30; ++i) frame[100 + i] = {60.0f + 0.6f * i, static_cast<uint16_t>(i % 2 ? 900 : 400), 10};
    frame[115] = {69.0f, c.distance, c.intensity};
    const Points out = filter.FilterWaterNoise(frame, 120.0, 300, 1500, 40);
    EXPECT_EQ(out[115], c.kept ? frame[115] : KXScanPoint{}) << c.distance << " mm, intensity " << +c.intensity;
    EXPECT_EQ(out[105], KXScanPoint{});
  }
  // Differences spread by exactly the threshold are smooth.
  std::vector<double> diffs(10, 0.0);
  diffs[7] = 120.0;
  EXPECT_TRUE(filter.IsDiffWindowSmooth(diffs, 0, 3, 120.0));
  diffs[7] = 120.5;
  EXPECT_FALSE(filter.IsDiffWindowSmooth(diffs, 0, 3, 120.0));
  EXPECT_TRUE(filter.IsDiffWindowSmooth(diffs, 4, 3, 120.0));

  // A full circle keeps its two ends, whose neighbours lie across 0 degrees;
  // with a real gap around 0 degrees the ends are isolated.
  Points circle = Sweep(0.0f, 600, 0.6f, 2000);
  circle[0].angle = -0.2f;
  EXPECT_EQ(filter.FilterWaterNoise(circle, 120.0, 300, 1500, 40), circle);
  for (int i = 0; i < 10; ++i) circle[i] = circle[599 - i] = KXScanPoint{};
  const Points out = filter.FilterWaterNoise(circle, 120.0, 300, 1500, 40);
  EXPECT_EQ(out[10], KXScanPoint{});
  EXPECT_EQ(out[589], KXScanPoint{});
  EXPECT_EQ(out[11], circle[11]);
  EXPECT_EQ(out[588], circle[588]);
}

// Batches of one point each; the last batch decides.
TEST(Scan, RevolutionRule) {
  const struct {
    const char* name;
    std::vector<float> ends;
    Outcome outcome;
    Anomaly anomaly;
    bool frame;
  } cases[] = {
      {"forward", {10, 100}, Outcome::Filed, Anomaly::None, false},
      {"back exactly half a turn", {180.0f, 0.0f}, Outcome::Filed, Anomaly::None, true},
      {"back 299 slots", {179.4f, 0.0f}, Outcome::Filed, Anomaly::AbnormalAngleChange, false},
      {"359.8 degrees is slot 0", {300, 359.8f}, Outcome::Filed, Anomaly::None, true},
      {"beyond the last slot", {10, 360.4f}, Outcome::Dropped, Anomaly::AbnormalAngle, false},
      {"below the first slot", {10, -1}, Outcome::Dropped, Anomaly::AbnormalAngle, false},
  };
  for (const auto& c : cases) {
    ScanFilter filter;
    FrameAssembler assembler(filter);
    ScanSettings settings;
    settings.enableAngleCalib = false;
    FrameAssembler::Result r;
    for (float a : c.ends) r = assembler.Step({{a, 1000, 9}}, settings, true);
    EXPECT_EQ(r.outcome, c.outcome) << c.name;
    EXPECT_EQ(r.anomaly, c.anomaly) << c.name;
    EXPECT_EQ(r.frameReady, c.frame) << c.name;
    EXPECT_EQ(r.csvRows.size(), c.outcome == Outcome::Filed ? 1u : 0u) << c.name;
  }
}

TEST(Scan, FilingClearingIdleAndCsvRows) {
  ScanFilter filter;
  FrameAssembler assembler(filter);
  ScanSettings plain;
  plain.enableAngleCalib = false;
  const Points sweep = Sweep(60.0f, 121, 0.5f, 1000);  // ends at 120 degrees, slot 200
  EXPECT_EQ(assembler.Step(sweep, plain, true).csvRows, sweep);

  // A small backward jump is filed without clearing; rows of a step made
  // while not recording are never handed out, then or later.
  const auto back = assembler.Step({{90.0f, 3000, 5}}, plain, false);
  EXPECT_EQ(back.anomaly, Anomaly::AbnormalAngleChange);
  EXPECT_EQ(std::make_pair(back.lastEndAngle, back.endAngle), std::make_pair(120.0f, 90.0f));
  EXPECT_TRUE(back.csvRows.empty());
  EXPECT_EQ(assembler.Slots()[180].distance, 1000);
  // Forward again: the slots after the last end and up to the new end are cleared.
  EXPECT_EQ(assembler.Step({{108.0f, 4000, 5}}, plain, true).csvRows.size(), 1u);
  const uint16_t want[] = {1000, 3000, 0, 0, 4000, 1000};
  const int at[] = {149, 150, 151, 179, 180, 181};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(assembler.Slots()[at[i]].distance, want[i]) << "slot " << at[i];

  for (int i = 0; i < 100; ++i) ASSERT_EQ(assembler.Step({}, plain, true).outcome, Outcome::Idle) << i;
  EXPECT_EQ(assembler.Step({}, plain, true).outcome, Outcome::IdleTimeout);
  assembler.Step({{110.0f, 1000, 5}}, plain, true);
  EXPECT_EQ(assembler.Step({}, plain, true).outcome, Outcome::Idle);
  EXPECT_EQ(assembler.Reset(), Points(600));
}
