#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "scan/ScanFilter.h"

namespace {

std::string Printed(float value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

KXScanPoint Pt(float angle, uint16_t distance, uint8_t intensity = 100) {
  return KXScanPoint{angle, distance, intensity};
}

bool IsEmpty(const KXScanPoint& p) { return p.distance == 0 && p.intensity == 0; }

// A frame of `count` points 0.6 degrees apart, starting at `start`.
std::vector<KXScanPoint> Ramp(size_t count, uint16_t distance, uint8_t intensity, float start = 0.0f) {
  std::vector<KXScanPoint> frame;
  for (size_t i = 0; i < count; ++i) frame.push_back(Pt(start + 0.6f * i, distance, intensity));
  return frame;
}

}  // namespace

TEST(CalibrateAngle, WorkedExamplesToThePrintedDigits) {
  const std::pair<float, const char*> cases[] = {{0.0f, "7.91759"},  {10.0f, "15.0985"},  {30.0f, "30"},
                                                 {45.0f, "41.2214"}, {200.0f, "202.498"}, {359.9f, "352.012"},
                                                 {60.0f, "67.9176"}};
  for (const auto& [in, out] : cases) EXPECT_EQ(Printed(ScanFilter::CalibrateAngle(in)), out) << "angle " << in;
}

TEST(CalibrateAngle, SectorCentresStayAndAnglesMoveTowardThemWithinBounds) {
  for (int k = 0; k < 6; ++k) EXPECT_EQ(ScanFilter::CalibrateAngle(60.0f * k + 30.0f), 60.0f * k + 30.0f);

  // Every angle of a sector lands in [start + 7.9176, start + 52.0824) and
  // the mapping keeps the order of angles within the sector.
  float previous = 0.0f;
  for (int i = 0; i < 36000; ++i) {
    const float angle = i * 0.01f;
    const int sector = static_cast<int>(angle / 60.0f);
    const float offset = ScanFilter::CalibrateAngle(angle) - 60.0f * sector;
    ASSERT_GE(offset, 7.9175f) << angle;
    ASSERT_LT(offset, 52.0825f) << angle;
    if (i % 6000 != 0) {
      ASSERT_GE(offset + 60.0f * sector, previous) << angle;
    }
    previous = offset + 60.0f * sector;
  }
}

TEST(CorrectDistance, TableAndContinuity) {
  const std::pair<uint16_t, uint16_t> cases[] = {{0, 0},         {1, 66},       {400, 465}, {401, 465},
                                                 {500, 559},     {750, 795},    {751, 796}, {10000, 10045},
                                                 {10001, 10001}, {65535, 65535}};
  for (const auto& [in, out] : cases) EXPECT_EQ(ScanFilter::CorrectDistance(in), out) << "distance " << in;

  // No jumps inside the corrected range: neighbouring distances differ by at
  // most one unit after correction, and the result never decreases.
  for (int d = 1; d < 10000; ++d) {
    const int a = ScanFilter::CorrectDistance(d);
    const int b = ScanFilter::CorrectDistance(d + 1);
    ASSERT_GE(b - a, 0) << d;
    ASSERT_LE(b - a, 1) << d;
  }
}

TEST(FilterPoint, WindowsFillBeforeTheFirstOutputAndOutputLagsTwoPoints) {
  ScanFilter filter;
  for (int i = 0; i < 8; ++i) EXPECT_TRUE(IsEmpty(filter.FilterPoint(Pt(10.0f + i, 1000)))) << i;
  const KXScanPoint out = filter.FilterPoint(Pt(18.0f, 1000));
  EXPECT_EQ(out.angle, 16.0f);
  EXPECT_EQ(out.distance, 1000);
  EXPECT_EQ(out.intensity, 100);
  EXPECT_EQ(filter.FilterPoint(Pt(19.0f, 1000)).angle, 17.0f);
}

TEST(FilterPoint, RangeGateRejectsWithoutEnteringTheWindows) {
  ScanFilter filter;
  for (int i = 0; i < 8; ++i) filter.FilterPoint(Pt(10.0f + i, 1000));
  for (uint16_t bad : {0, 99, 10001, 65535}) EXPECT_EQ(filter.FilterPoint(Pt(5.0f, bad)), KXScanPoint{}) << bad;
  // Had the rejected points entered a window, the next output would not be
  // the point two valid inputs back.
  EXPECT_EQ(filter.FilterPoint(Pt(18.0f, 1000)).angle, 16.0f);
}

TEST(FilterPoint, SpikeIsDroppedAndLaterPointsStillFlow) {
  ScanFilter filter;
  const uint16_t distances[] = {1000, 1000, 1000, 1000, 1000, 1000, 2000, 1000, 1000, 1000, 1000, 1000};
  std::vector<KXScanPoint> outputs;
  for (int i = 0; i < 12; ++i) outputs.push_back(filter.FilterPoint(Pt(10.0f + i, distances[i])));
  // The spike at input 6 would come out with input 8; it does not.
  EXPECT_TRUE(IsEmpty(outputs[8]));
  for (int i = 9; i < 12; ++i) {
    EXPECT_EQ(outputs[i].angle, 10.0f + i - 2) << i;
    EXPECT_EQ(outputs[i].distance, 1000) << i;
  }
}

TEST(RemoveSpike, NeedsBothSidesFarOffInOppositeDirections) {
  ScanFilter lone;
  for (uint16_t d : {1000, 1000, 2000, 1000}) EXPECT_TRUE(IsEmpty(lone.RemoveSpike(Pt(1.0f, d))));
  EXPECT_TRUE(IsEmpty(lone.RemoveSpike(Pt(5.0f, 1000))));

  ScanFilter oneSided;  // before-mean 1000, after-mean 1990: a step, not a spike
  for (uint16_t d : {1000, 1000, 2000, 1990}) oneSided.RemoveSpike(Pt(1.0f, d));
  const KXScanPoint centre = oneSided.RemoveSpike(Pt(5.0f, 1990));
  EXPECT_EQ(centre.distance, 2000);

  ScanFilter nearMiss;  // exactly 50 above both sides is not a spike (strict comparison)
  for (uint16_t d : {1000, 1000, 1050, 1000}) nearMiss.RemoveSpike(Pt(1.0f, d));
  EXPECT_EQ(nearMiss.RemoveSpike(Pt(5.0f, 1000)).distance, 1050);

  ScanFilter dip;  // a hole is as much a spike as a peak
  for (uint16_t d : {1000, 1000, 500, 1000}) dip.RemoveSpike(Pt(1.0f, d));
  EXPECT_TRUE(IsEmpty(dip.RemoveSpike(Pt(5.0f, 1000))));
}

TEST(SmoothPoint, WeightedMeanOverTheWindow) {
  ScanFilter filter;
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(IsEmpty(filter.SmoothPoint(Pt(10.0f + i, 1000, 100))));
  // s = 10 (newest at 1100 mm): each older point weighs exp(-100^2 / (2 * 200^2)).
  const KXScanPoint out = filter.SmoothPoint(Pt(14.0f, 1100, 100));
  EXPECT_EQ(out.angle, 14.0f);
  EXPECT_EQ(out.distance, 1022);
  EXPECT_EQ(out.intensity, 100);
}

TEST(SmoothPoint, WideWindowPassesTheNewestPointUnchanged) {
  ScanFilter wide;
  for (float a : {0.0f, 3.0f, 6.0f, 9.0f}) wide.SmoothPoint(Pt(a, 1000, 100));
  EXPECT_EQ(wide.SmoothPoint(Pt(10.5f, 3000, 7)), Pt(10.5f, 3000, 7));

  ScanFilter acrossZero;  // 350 to 2 degrees spans 12 degrees
  for (float a : {350.0f, 353.0f, 356.0f, 359.0f}) acrossZero.SmoothPoint(Pt(a, 1000, 100));
  EXPECT_EQ(acrossZero.SmoothPoint(Pt(2.0f, 3000, 7)), Pt(2.0f, 3000, 7));

  ScanFilter narrowAcrossZero;  // 355 to 3 degrees spans 8 degrees: smoothed
  for (float a : {355.0f, 357.0f, 359.0f, 1.0f}) narrowAcrossZero.SmoothPoint(Pt(a, 1000, 100));
  EXPECT_EQ(narrowAcrossZero.SmoothPoint(Pt(3.0f, 1100, 100)).distance, 1022);
}

TEST(SmoothPoint, ZeroIntensityGivesNoOutput) {
  ScanFilter filter;
  for (int i = 0; i < 4; ++i) filter.SmoothPoint(Pt(10.0f + i, 1000, 100));
  const KXScanPoint out = filter.SmoothPoint(Pt(14.0f, 1000, 0));
  EXPECT_EQ(out, Pt(14.0f, 0, 0));
}

class WaterNoise : public ::testing::Test {
 protected:
  // Weak points in the filtered band whose distances jump back and forth.
  static std::vector<KXScanPoint> Noisy(size_t count) {
    std::vector<KXScanPoint> frame;
    for (size_t i = 0; i < count; ++i) frame.push_back(Pt(0.6f * i, i % 2 ? 900 : 400, 10));
    return frame;
  }
  ScanFilter filter;
};

TEST_F(WaterNoise, TooSmallFrameIsReportedAndPassesUnchanged) {
  const std::vector<KXScanPoint> in = Noisy(4);
  std::vector<KXScanPoint> out;
  testing::internal::CaptureStdout();
  filter.FilterDiffWindow(in, out, 3, 120.0, 300, 1500, 40);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Scan ranges size is too small for set window: size = 4, window = 3\n");
  EXPECT_EQ(out, in);
}

TEST_F(WaterNoise, ProtectedPointsSurviveNoiseOthersGo) {
  std::vector<KXScanPoint> in = Noisy(30);
  in[10] = Pt(6.0f, 300, 10);
  in[12] = Pt(7.2f, 1500, 10);
  in[14] = Pt(8.4f, 800, 40);
  in[16] = Pt(9.6f, 301, 39);
  std::vector<KXScanPoint> out;
  filter.FilterDiffWindow(in, out, 3, 120.0, 300, 1500, 40);
  ASSERT_EQ(out.size(), in.size());
  EXPECT_EQ(out[10], in[10]);
  EXPECT_EQ(out[12], in[12]);
  EXPECT_EQ(out[14], in[14]);
  EXPECT_EQ(out[16], KXScanPoint{});
  EXPECT_EQ(out[20], KXScanPoint{});
}

TEST_F(WaterNoise, SmoothSurfaceIsKept) {
  // A wall seen at a slant: weak, in the band, but distances change evenly.
  std::vector<KXScanPoint> in;
  for (int i = 0; i < 40; ++i) in.push_back(Pt(0.6f * i, static_cast<uint16_t>(600 + 20 * i), 10));
  std::vector<KXScanPoint> out;
  filter.FilterDiffWindow(in, out, 3, 120.0, 300, 1500, 40);
  // Only the wrap-around from the last point to the first is uneven.
  for (int i = 4; i < 36; ++i) EXPECT_EQ(out[i], in[i]) << i;
}

TEST_F(WaterNoise, FewerThanSixValidPointsLoseEveryUnprotectedOne) {
  std::vector<KXScanPoint> in(600);
  for (int i = 0; i < 5; ++i) in[100 + i] = Pt(60.0f + 0.6f * i, 800, i == 2 ? 200 : 10);
  const std::vector<KXScanPoint> out = filter.FilterWaterNoise(in, 120.0, 300, 1500, 40);
  ASSERT_EQ(out.size(), 600u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(out[100 + i], i == 2 ? in[102] : KXScanPoint{}) << i;
  }
}

TEST_F(WaterNoise, IsDiffWindowSmoothLooksAtTwoWindowsOfDifferencesCircularly) {
  std::vector<double> diffs(10, 0.0);
  EXPECT_FALSE(filter.IsDiffWindowSmooth(std::vector<double>(5, 0.0), 0, 3, 120.0));  // fewer than 2w
  diffs[7] = 120.0;
  EXPECT_TRUE(filter.IsDiffWindowSmooth(diffs, 0, 3, 120.0));  // positions 7, 8, 9, 0, 1, 2; spread 120 <= 120
  diffs[7] = 120.5;
  EXPECT_FALSE(filter.IsDiffWindowSmooth(diffs, 0, 3, 120.0));
  EXPECT_TRUE(filter.IsDiffWindowSmooth(diffs, 4, 3, 120.0));    // positions 1 to 6
  EXPECT_FALSE(filter.IsDiffWindowSmooth(diffs, 9, 3, 120.0));   // positions 6 to 9, 0, 1
  EXPECT_FALSE(filter.IsDiffWindowSmooth(diffs, 25, 3, 120.0));  // out-of-range index stays in bounds
}

TEST(FilterIsolatedPoints, ClearsPointsWhoseNeighboursLieFarApart) {
  ScanFilter filter;
  std::vector<KXScanPoint> in = Ramp(30, 2000, 100, 30.0f);
  for (int i = 10; i < 20; ++i) in[i] = KXScanPoint{};
  in[15] = Pt(39.0f, 2000, 100);  // alone in a 6-degree gap
  in[25].distance = 10000;        // not a neighbour for anyone
  std::vector<KXScanPoint> out;
  filter.FilterIsolatedPoints(in, out, 3.0);
  EXPECT_EQ(out[15], KXScanPoint{});
  EXPECT_EQ(out[9], KXScanPoint{});  // its neighbours lie 4.2 degrees apart
  EXPECT_EQ(out[20], KXScanPoint{});
  EXPECT_EQ(out[5], in[5]);
  EXPECT_EQ(out[24], in[24]);
  EXPECT_EQ(out[25], in[25]);        // at 10000 mm: neither judged nor a neighbour
  EXPECT_EQ(out[0], KXScanPoint{});  // the frame's two ends lie far apart across 0 degrees
  EXPECT_EQ(out[29], KXScanPoint{});
}

TEST(FilterIsolatedPoints, FullCircleKeepsItsEndsAcrossZero) {
  // A complete sweep: the first and the last valid point have close
  // neighbours across 0 degrees and are not isolated.
  ScanFilter filter;
  std::vector<KXScanPoint> in = Ramp(600, 2000, 100);
  in[0].angle = -0.2f;
  std::vector<KXScanPoint> out;
  filter.FilterIsolatedPoints(in, out, 3.0);
  EXPECT_EQ(out, in);

  // With a real gap around 0 degrees (as the angle calibration leaves) the
  // ends are isolated.
  for (int i = 0; i < 10; ++i) in[i] = in[599 - i] = KXScanPoint{};
  filter.FilterIsolatedPoints(in, out, 3.0);
  EXPECT_EQ(out[10], KXScanPoint{});
  EXPECT_EQ(out[589], KXScanPoint{});
  EXPECT_EQ(out[11], in[11]);
  EXPECT_EQ(out[588], in[588]);
}

TEST(FilterIsolatedPoints, OneOrTwoValidPointsAreLeftAlone) {
  ScanFilter filter;
  std::vector<KXScanPoint> in(600);
  in[10] = Pt(6.0f, 2000);
  in[400] = Pt(240.0f, 2000);
  std::vector<KXScanPoint> out;
  filter.FilterIsolatedPoints(in, out, 3.0);
  EXPECT_EQ(out, in);
}

TEST(FilterAngleEdge, MarginAroundSectorBoundaries) {
  std::vector<KXScanPoint> frame = {Pt(9.5f, 1000), Pt(50.5f, 1000),  Pt(9.4f, 1000),  Pt(50.6f, 1000),
                                    Pt(0.0f, 1000), Pt(129.5f, 1000), Pt(-30.0f, 1000)};
  ScanFilter::FilterAngleEdge(frame, 1.5f);
  ASSERT_EQ(frame.size(), 7u);
  EXPECT_EQ(frame[0].distance, 1000);
  EXPECT_EQ(frame[1].distance, 1000);
  EXPECT_EQ(frame[5].distance, 1000);
  for (int i : {2, 3, 4, 6}) {
    EXPECT_EQ(frame[i].distance, 0) << i;
    EXPECT_EQ(frame[i].intensity, 0) << i;
  }
  EXPECT_EQ(frame[3].angle, 50.6f);  // the angle stays
}
