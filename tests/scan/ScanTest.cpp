// The slot rule, the corrections and filters, and the assembler, fed directly.
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

#include "scan/FrameAssembler.h"
#include "scan/RevolutionStats.h"

using Points = std::vector<KXScanPoint>;
using Outcome = FrameAssembler::Outcome;
using Anomaly = FrameAssembler::Anomaly;

TEST(Scan, SlotRuleAndCorrections) {
  // Angle, its slot, the slot it is filed in.
  const float slots[][3] = {{0, 0, 0},         {0.29f, 0, 0},      {0.31f, 1, 1},    {-0.8f, 0, 0},
                            {-1, -1, -1},      {359.6f, 599, 599}, {359.8f, 600, 0}, {360, 600, 0},
                            {360.4f, 601, -1}, {NAN, -1, -1},      {1e30f, -1, -1},  {-INFINITY, -1, -1}};
  for (auto [angle, slot, filing] : slots) {
    EXPECT_EQ(FrameAssembler::SlotOfAngle(angle), slot) << angle;
    EXPECT_EQ(FrameAssembler::FilingSlot(angle), filing) << angle;
  }
  const float angles[][2] = {{0, 7.91759f}, {30, 30}, {45, 41.2214f}, {200, 202.498f}, {359.9f, 352.012f}};
  for (auto [in, out] : angles) EXPECT_NEAR(ScanFilter::CalibrateAngle(in), out, 1e-3) << in;
  const int distances[][2] = {{0, 0},     {1, 66},    {400, 465},     {401, 465},
                              {750, 795}, {751, 796}, {10000, 10045}, {10001, 10001}};
  for (auto [in, out] : distances) EXPECT_EQ(ScanFilter::CorrectDistance(in), out) << in;
  const float edges[][2] = {{9.5f, 1000}, {9.4f, 0}, {50.5f, 1000}, {50.6f, 0}, {-30, 0}};  // angle, distance kept
  for (auto [angle, kept] : edges) {
    Points frame = {{angle, 1000, 50}};
    ScanFilter::FilterAngleEdge(frame, 1.5f);
    EXPECT_EQ(frame[0], (KXScanPoint{angle, uint16_t(kept), uint8_t(kept ? 50 : 0)})) << angle;
  }
}

// Range gate, spike remover and smoother, each with a window of five: the
// output lags two valid inputs, and the spike at 2000 mm never comes out.
TEST(Scan, PerPointFilter) {
  const uint16_t distances[] = {1000, 1000, 1000, 1000, 1000, 1000, 2000, 1000, 1000, 99, 10001, 1000, 1000};
  ScanFilter filter;
  for (int i = 0; i < 13; ++i) {
    const KXScanPoint out = filter.FilterPoint({10.0f + i, distances[i], 100});
    EXPECT_EQ(out, (i < 11 ? KXScanPoint{} : KXScanPoint{6.0f + i, 1000, 100})) << "input " << i;
  }
  // Five distances, the centre's after spike removal: a hole, a step, a rise of exactly 50.
  const uint16_t spikes[][6] = {
      {1000, 1000, 500, 1000, 1000, 0}, {1000, 1000, 2000, 3000, 3000, 2000}, {1000, 1000, 1050, 950, 950, 1050}};
  for (const auto& c : spikes) {
    ScanFilter f;
    for (int i = 0; i < 4; ++i) f.RemoveSpike({1.0f, c[i], 9});
    EXPECT_EQ(f.RemoveSpike({1.0f, c[4], 9}).distance, c[5]) << c[2];
  }
  // Five angles, newest intensity, result: a mean, 12 degrees across 0 (left alone), no intensity.
  const float smooth[][7] = {
      {10, 11, 12, 13, 14, 100, 1022}, {350, 353, 356, 359, 2, 100, 1100}, {10, 11, 12, 13, 14, 0, 0}};
  for (const auto& c : smooth) {
    ScanFilter f;
    for (int i = 0; i < 4; ++i) f.SmoothPoint({c[i], 1000, 100});
    EXPECT_EQ(f.SmoothPoint({c[4], 1100, uint8_t(c[5])}).distance, c[6]) << c[0] << " " << c[4];
  }
}

TEST(Scan, WaterNoiseFilter) {
  // Weak points whose distances jump back and forth go, unless protected: distance, intensity, kept.
  const int cases[][3] = {{300, 10, 1}, {1500, 10, 1}, {800, 40, 1}, {301, 39, 0}, {1499, 10, 0}};
  ScanFilter filter;
  for (auto [distance, intensity, kept] : cases) {
    Points frame(600);
    for (int i = 0; i < 30; ++i) frame[100 + i] = {60 + 0.6f * i, uint16_t(i % 2 ? 900 : 400), 10};
    frame[115] = {69.0f, uint16_t(distance), uint8_t(intensity)};
    const Points out = filter.FilterWaterNoise(frame, 120.0, 300, 1500, 40);
    EXPECT_EQ((Points{out[114], out[115]}), (Points{{}, kept ? frame[115] : KXScanPoint{}})) << distance << intensity;
  }
  std::vector<double> diffs(10, 0.0);
  diffs[7] = 120.0;  // spread exactly the threshold: smooth
  EXPECT_TRUE(filter.IsDiffWindowSmooth(diffs, 0, 3, 120.0));

  // A full circle keeps its ends (neighbours across 0 degrees); with a gap around 0 they are isolated.
  Points circle(600);
  for (int i = 0; i < 600; ++i) circle[i] = {0.6f * i - 0.2f, 2000, 100};
  EXPECT_EQ(filter.FilterWaterNoise(circle, 120.0, 300, 1500, 40), circle);
  for (int i = 0; i < 10; ++i) circle[i] = circle[599 - i] = KXScanPoint{};
  const Points out = filter.FilterWaterNoise(circle, 120.0, 300, 1500, 40);
  EXPECT_EQ((Points{out[10], out[11], out[588], out[589]}), (Points{{}, circle[11], circle[588], {}}));
}

TEST(Scan, AssemblerFilingClearingAndRevolutions) {
  ScanFilter filter;
  ScanSettings plain;
  plain.enableAngleCalib = false;
  // Batches of one point at each angle; the last one decides.
  const std::tuple<const char*, std::vector<float>, Outcome, Anomaly, bool> cases[] = {
      {"back exactly half a turn", {180, 0}, Outcome::Filed, Anomaly::None, true},
      {"back 299 slots", {179.4f, 0}, Outcome::Filed, Anomaly::AbnormalAngleChange, false},
      {"359.8 degrees is slot 0", {300, 359.8f}, Outcome::Filed, Anomaly::None, true},
      {"beyond the last slot", {10, 360.4f}, Outcome::Dropped, Anomaly::AbnormalAngle, false}};
  for (const auto& [name, angles, outcome, anomaly, frame] : cases) {
    FrameAssembler assembler(filter);
    FrameAssembler::Result r;
    for (float a : angles) r = assembler.Step({{a, 1000, 9}}, plain, true);
    EXPECT_EQ(std::make_tuple(r.outcome, r.anomaly, r.frameReady, r.csvRows.size()),
              std::make_tuple(outcome, anomaly, frame, outcome == Outcome::Filed ? 1u : 0u))
        << name;
  }

  FrameAssembler assembler(filter);
  Points sweep;
  for (int i = 0; i <= 120; ++i) sweep.push_back({60 + 0.5f * i, 1000, 9});  // ends at 120 degrees, slot 200
  EXPECT_EQ(assembler.Step(sweep, plain, true).csvRows, sweep);
  // A small step back is filed, nothing cleared; a step made while not recording hands out no rows.
  const auto back = assembler.Step({{90, 3000, 5}}, plain, false);
  EXPECT_EQ(std::make_tuple(back.anomaly, back.lastEndAngle, back.endAngle, back.csvRows.size()),
            std::make_tuple(Anomaly::AbnormalAngleChange, 120.0f, 90.0f, size_t{0}));
  // Forward again, its point held back by the per-point filter: clearing reaches the new end too.
  ScanSettings held = plain;
  held.enableAlgoFilter = true;
  EXPECT_EQ(assembler.Step({{108, 4000, 5}}, held, true).csvRows.size(), 0u);
  std::vector<int> around;
  for (int slot : {149, 150, 151, 179, 180, 181}) around.push_back(assembler.Slots()[slot].distance);
  EXPECT_EQ(around, (std::vector<int>{1000, 3000, 0, 0, 0, 1000}));

  for (int i = 0; i < 100; ++i) ASSERT_EQ(assembler.Step({}, plain, true).outcome, Outcome::Idle) << i;
  EXPECT_EQ(assembler.Step({}, plain, true).outcome, Outcome::IdleTimeout);
  assembler.Step({{110, 1000, 5}}, plain, true);
  EXPECT_EQ(assembler.Step({}, plain, true).outcome, Outcome::Idle);
  EXPECT_EQ(assembler.Reset(), Points(600));
}

// Per-revolution figures from hand-made batches: points (angle, distance), the
// CRC and skipped-byte counters, the time. A turn ends where the points pass 0
// degrees, inside a batch too.
TEST(Scan, RevolutionStatistics) {
  using Batch = std::tuple<std::vector<std::pair<float, uint16_t>>, uint64_t, uint64_t, int64_t>;
  // number, duration, points, empty, min, median, max, CRC errors, skipped bytes
  using Figures = std::tuple<long, int64_t, uint32_t, uint32_t, uint16_t, uint16_t, uint16_t, uint64_t, uint64_t>;
  // clang-format off
  const std::tuple<const char*, std::vector<Batch>, std::vector<Figures>> cases[] = {
      {"empty polls, then an all-zero revolution",
       {{{}, 5, 5, 0}, {{{300, 1000}}, 5, 5, 50}, {{}, 5, 5, 90}, {{{1, 0}}, 5, 5, 150}, {{{2, 0}, {359, 0}, {3, 0}}, 5, 5, 250}},
       {{1, 100, 1, 0, 1000, 1000, 1000, 5, 5}, {2, 100, 3, 3, 0, 0, 0, 0, 0}}},
      {"a CRC burst",
       {{{{100, 3000}, {200, 1000}, {300, 0}, {350, 2000}}, 0, 0, 0}, {{{5, 4000}, {100, 4000}, {300, 5000}}, 0, 0, 100},
        {{{1, 4000}, {200, 1000}}, 40, 470, 200}, {{{2, 1000}}, 41, 470, 300}},
       {{1, 100, 4, 1, 1000, 2000, 3000, 0, 0}, {2, 100, 3, 0, 4000, 4000, 5000, 40, 470}, {3, 100, 2, 0, 1000, 1000, 4000, 1, 0}}}};
  // clang-format on
  for (const auto& [name, batches, expected] : cases) {
    RevolutionStats stats;
    std::vector<Figures> got;
    for (const auto& [points, crc, skipped, ms] : batches) {
      FrameAssembler::Result r;
      for (auto [angle, distance] : points) r.filed.push_back({angle, distance, 9});
      KXLinkStats link;
      std::tie(link.crcErrors, link.skippedBytes) = std::make_pair(crc, skipped);
      for (const RevolutionFigures& f : stats.Add(r, link, 600.0f, ms))
        got.emplace_back(f.number, f.durationMs, f.points, f.emptyPoints, f.minMm, f.medianMm, f.maxMm, f.crcErrors,
                         f.skippedBytes);
    }
    EXPECT_EQ(got, expected) << name;
  }
}
