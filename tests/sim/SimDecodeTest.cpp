// The simulator's packets through the real receiver.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "SimDecode.h"
#include "sim/SimFaults.h"
#include "sim/SimPacer.h"
#include "sim/SimPacket.h"
#include "sim/SimScene.h"

namespace {

std::vector<uint8_t> Stream(sim::ScanGenerator& gen, uint64_t first, uint64_t count) {
  std::vector<uint8_t> bytes;
  for (uint64_t i = first; i < first + count; ++i) {
    sim::PacketBytes p = sim::EncodePacket(gen.MakePacket(i));
    bytes.insert(bytes.end(), p.begin(), p.end());
  }
  return bytes;
}

double AngleGap(double a, double b) {
  double d = std::fmod(b - a + 720.0, 360.0);
  return d;
}

TEST(SimDecode, ARevolutionDecodesToTheScene) {
  sim::SimScene scene;
  sim::ScanGenerator gen(scene, 10.0, sim::LinePacer::PacketPeriodNs(4500, 230400), 11);
  // 0.1 s plus a bit: more than one revolution, so the end crosses 0 degrees.
  DecodedStream d = DecodeStream(Stream(gen, 0, 40));
  ASSERT_EQ(d.points.size(), 40u * 12);
  EXPECT_EQ(d.stats.crcErrors, 0u);
  EXPECT_FLOAT_EQ(d.speedRpm, 600.0f);

  std::vector<float> angles;
  for (size_t i = 0; i < d.points.size(); ++i) {
    const KXScanPoint& p = d.points[i];
    ASSERT_GE(p.angle, 0.0f);
    ASSERT_LT(p.angle, 360.0f);
    angles.push_back(p.angle);
    if (i > 0) {
      EXPECT_NEAR(AngleGap(d.points[i - 1].angle, p.angle), 0.8, 0.012) << i;
    }
    // Next to an edge of an object a hundredth of a degree decides which
    // surface is hit: accept anything between the two.
    double lo = 1e9, hi = 0;
    int dimmest = 255, brightest = 0;
    for (double da : {-0.001, 0.0, 0.001}) {
      lo = std::min(lo, scene.TrueDistanceMm(p.angle + da));
      hi = std::max(hi, scene.TrueDistanceMm(p.angle + da));
      dimmest = std::min<int>(dimmest, scene.TrueIntensity(p.angle + da));
      brightest = std::max<int>(brightest, scene.TrueIntensity(p.angle + da));
    }
    double bound = sim::ScanGenerator::kNoiseBoundMm + 0.5;
    EXPECT_GE(p.distance, lo - bound) << p.angle;
    EXPECT_LE(p.distance, hi + bound) << p.angle;
    EXPECT_GE(p.intensity, dimmest - 1) << p.angle;
    EXPECT_LE(p.intensity, brightest + 1) << p.angle;
  }
  // The whole circle is covered with no gap wider than one step.
  std::sort(angles.begin(), angles.end());
  for (size_t i = 1; i < angles.size(); ++i) EXPECT_LE(angles[i] - angles[i - 1], 0.81);
  EXPECT_LE(angles.front() + 360.0f - angles.back(), 0.81);

  // Noise is there, but small.
  double sumSq = 0;
  for (const KXScanPoint& p : d.points) sumSq += std::pow(p.distance - scene.TrueDistanceMm(p.angle), 2);
  double rms = std::sqrt(sumSq / d.points.size());
  EXPECT_GT(rms, 1.0);
  EXPECT_LT(rms, 5.0);
}

TEST(SimDecode, SlowRotationAndTimestamps) {
  sim::SimScene scene;
  const int64_t period = sim::LinePacer::PacketPeriodNs(2000, 115200);
  sim::ScanGenerator gen(scene, 5.5, period, 1);
  // Far into a run, where the 16-bit timestamp has wrapped.
  const uint64_t first = 400000;
  DecodedStream d = DecodeStream(Stream(gen, first, 30));
  EXPECT_FLOAT_EQ(d.speedRpm, 330.0f);
  EXPECT_EQ(d.timestamp, static_cast<uint16_t>((first + 29) * period / 1000000));
  for (size_t i = 1; i < d.points.size(); ++i)
    EXPECT_NEAR(AngleGap(d.points[i - 1].angle, d.points[i].angle), 360 * 5.5 / 2000, 0.012) << i;
}

TEST(SimDecode, PacketsSplitAtAnyBoundaryDecodeTheSame) {
  sim::SimScene scene;
  sim::ScanGenerator gen(scene, 10.0, 2666667, 5);
  sim::FaultInjector faults({4, 3, 6}, 5);
  std::vector<uint8_t> bytes;
  // Ends on a clean packet: the receiver passes trailing junk only once
  // something follows it.
  for (uint64_t n = 1; n <= 13; ++n) {
    sim::PacketBytes p = sim::EncodePacket(gen.MakePacket(n));
    std::vector<uint8_t> junk;
    faults.Apply(n, p, junk);
    bytes.insert(bytes.end(), p.begin(), p.end());
    bytes.insert(bytes.end(), junk.begin(), junk.end());
  }
  DecodedStream whole = DecodeStream(bytes, bytes.size());
  EXPECT_EQ(whole.stats.packets, 10u);
  EXPECT_EQ(whole.stats.crcErrors, 3u);
  EXPECT_EQ(whole.stats.skippedBytes, 4u * 6);
  for (size_t chunk = 1; chunk <= 2 * 47 + 6; ++chunk) {
    DecodedStream split = DecodeStream(bytes, chunk);
    ASSERT_EQ(split.points.size(), whole.points.size()) << chunk;
    for (size_t i = 0; i < split.points.size(); ++i) ASSERT_EQ(split.points[i], whole.points[i]) << chunk;
    EXPECT_EQ(split.stats.skippedBytes, whole.stats.skippedBytes) << chunk;
  }
}

}  // namespace
