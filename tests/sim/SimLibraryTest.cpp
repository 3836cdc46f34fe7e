// The simulator's plain parts: scene geometry, packet generator, command
// parser, fault injector, line pacing and option parsing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "sim/SimCommand.h"
#include "sim/SimFaults.h"
#include "sim/SimOptions.h"
#include "sim/SimPacer.h"
#include "sim/SimPacket.h"
#include "sim/SimScene.h"

namespace {

using sim::SimScene;

TEST(SimScene, DistancesFollowTheRoomLayout) {
  SimScene s;
  EXPECT_NEAR(s.TrueDistanceMm(0), SimScene::kRoomWidthMm - SimScene::kSensorXMm, 1e-6);
  EXPECT_NEAR(s.TrueDistanceMm(90), SimScene::kRoomDepthMm - SimScene::kSensorYMm, 1e-6);
  EXPECT_NEAR(s.TrueDistanceMm(180), SimScene::kSensorXMm, 1e-6);
  EXPECT_NEAR(s.TrueDistanceMm(270), SimScene::kSensorYMm, 1e-6);
  EXPECT_NEAR(s.TrueDistanceMm(-90), SimScene::kSensorYMm, 1e-6);

  // Straight at the pillar's centre: its near surface.
  double px = SimScene::kPillarXMm - SimScene::kSensorXMm, py = SimScene::kPillarYMm - SimScene::kSensorYMm;
  double pillarDeg = std::atan2(py, px) * 180.0 / M_PI;
  EXPECT_NEAR(s.TrueDistanceMm(pillarDeg), std::hypot(px, py) - SimScene::kPillarRadiusMm, 1e-6);

  // Towards the box's centre the ray meets its upper face (y = max) first.
  double bx = (SimScene::kBoxMinXMm + SimScene::kBoxMaxXMm) / 2 - SimScene::kSensorXMm;
  double by = (SimScene::kBoxMinYMm + SimScene::kBoxMaxYMm) / 2 - SimScene::kSensorYMm;
  double boxDeg = std::atan2(by, bx) * 180.0 / M_PI + 360.0;
  double toFace = (SimScene::kBoxMaxYMm - SimScene::kSensorYMm) / by;
  EXPECT_NEAR(s.TrueDistanceMm(boxDeg), std::hypot(bx, by) * toFace, 1e-6);
}

TEST(SimScene, IntensityFallsWithDistanceAndSlant) {
  SimScene s;
  // Both walls met head-on: the nearer one is brighter.
  EXPECT_GT(s.TrueIntensity(180), s.TrueIntensity(0));
  // The same wall met at a slant is dimmer still.
  EXPECT_LT(s.TrueIntensity(20), s.TrueIntensity(0));
  for (double a = 0; a < 360; a += 0.5) EXPECT_GE(s.TrueIntensity(a), 1);
}

TEST(SimGenerator, PacketsFollowTheRotation) {
  SimScene scene;
  const int64_t period = sim::LinePacer::PacketPeriodNs(4500, 230400);
  sim::ScanGenerator gen(scene, 10.0, period, 7);
  EXPECT_EQ(gen.SpeedField(), 3600);
  EXPECT_NEAR(gen.PointStepDeg(), 0.8, 1e-6);
  for (uint64_t i = 0; i < 2000; ++i) {
    sim::PacketFields f = gen.MakePacket(i);
    double expectStart = std::fmod(i * 12 * 0.8, 360.0);
    double diff = std::fabs(f.startAngleCdeg * 0.01 - expectStart);
    EXPECT_LT(std::min(diff, 360 - diff), 0.006) << i;
    double span = std::fmod(f.endAngleCdeg - f.startAngleCdeg + 36000.0, 36000.0) * 0.01;
    EXPECT_NEAR(span, 11 * 0.8, 0.011) << i;
    EXPECT_EQ(f.timestampMs, static_cast<uint16_t>((i * period / 1000000) & 0xFFFF));
    for (int k = 0; k < 12; ++k) {
      double angle = sim::PointAngleDeg(f, k);
      ASSERT_LT(angle, 360.0);
      EXPECT_LE(std::fabs(f.distanceMm[k] - scene.TrueDistanceMm(angle)), sim::ScanGenerator::kNoiseBoundMm + 0.5);
    }
  }
}

TEST(SimGenerator, NoiseIsRepeatableBySeed) {
  SimScene scene;
  sim::ScanGenerator a(scene, 10, 2666667, 42), b(scene, 10, 2666667, 42), c(scene, 10, 2666667, 43);
  bool differs = false;
  for (uint64_t i = 0; i < 50; ++i) {
    sim::PacketFields fa = a.MakePacket(i), fb = b.MakePacket(i), fc = c.MakePacket(i);
    EXPECT_EQ(sim::EncodePacket(fa), sim::EncodePacket(fb));
    differs = differs || fa.distanceMm != fc.distanceMm;
  }
  EXPECT_TRUE(differs);
}

TEST(SimCommandParser, FindsFramesSplitAnywhereAmongJunk) {
  std::vector<uint8_t> stream = {0x00, 0xA5, 0x5A, 0x01, 0x00, 0x01,              // near miss
                                 0xA5, 0xA5, 0x5A, 0x01, 0x00, 0x00,              // start after a stray A5
                                 0x4F, 0x4B, 0x5A, 0xA5, 0x5A, 0x03, 0x00, 0x02,  // junk, stop
                                 0xA5, 0x5A, 0x03, 0x00};                         // incomplete
  const std::vector<sim::SimCommand> expected = {sim::SimCommand::Start, sim::SimCommand::Stop};
  for (size_t cut1 = 0; cut1 <= stream.size(); ++cut1) {
    for (size_t cut2 = cut1; cut2 <= stream.size(); ++cut2) {
      sim::CommandParser p;
      std::vector<sim::SimCommand> got;
      for (auto [from, to] : {std::pair{size_t{0}, cut1}, {cut1, cut2}, {cut2, stream.size()}}) {
        auto part = p.Feed(stream.data() + from, to - from);
        got.insert(got.end(), part.begin(), part.end());
      }
      ASSERT_EQ(got, expected) << cut1 << "," << cut2;
    }
  }
  // The incomplete frame completes with its last byte.
  sim::CommandParser p;
  p.Feed(stream.data(), stream.size());
  uint8_t last = 0x02;
  EXPECT_EQ(p.Feed(&last, 1), std::vector<sim::SimCommand>{sim::SimCommand::Stop});
}

TEST(SimFaults, SpoilsEveryNthPacketAndSendsSafeJunk) {
  sim::FaultInjector f({3, 4, 9}, 5);
  sim::FaultInjector same({3, 4, 9}, 5);
  sim::SimScene scene;
  sim::ScanGenerator gen(scene, 10, 2666667, 1);
  uint64_t junkTotal = 0;
  for (uint64_t n = 1; n <= 600; ++n) {
    sim::PacketBytes p = sim::EncodePacket(gen.MakePacket(n)), q = p;
    std::vector<uint8_t> junk, junk2;
    bool spoilt = f.Apply(n, p, junk);
    same.Apply(n, q, junk2);
    EXPECT_EQ(p, q);
    EXPECT_EQ(junk, junk2);
    EXPECT_EQ(spoilt, n % 3 == 0);
    EXPECT_EQ(p[46] != kx::Crc8(p.data(), 46), n % 3 == 0) << n;
    EXPECT_EQ(junk.size(), n % 4 == 0 ? 9u : 0u);
    for (uint8_t b : junk) EXPECT_FALSE(sim::FaultInjector::CanStartFrame(b)) << int(b);
    junkTotal += junk.size();
  }
  EXPECT_EQ(junkTotal, 150u * 9);
  for (uint8_t b : {0x54, 0x4F, 0x55, 0x5A}) EXPECT_TRUE(sim::FaultInjector::CanStartFrame(b));
}

TEST(SimStreamCounter, CountsWhatAReplayCarries) {
  sim::SimScene scene;
  sim::ScanGenerator gen(scene, 10, 2666667, 1);
  sim::FaultInjector faults({4, 5, 3}, 9);
  std::vector<uint8_t> bytes(kx::kAckShort, kx::kAckShort + 2);
  sim::SimStats sent;
  for (uint64_t n = 1; n <= 30; ++n) {
    sim::PacketBytes p = sim::EncodePacket(gen.MakePacket(n));
    std::vector<uint8_t> junk;
    sent.badCrc += faults.Apply(n, p, junk);
    sent.garbageBytes += junk.size();
    bytes.insert(bytes.end(), p.begin(), p.end());
    bytes.insert(bytes.end(), junk.begin(), junk.end());
  }
  bytes.insert(bytes.end(), kx::kAckLong, kx::kAckLong + 5);
  for (size_t chunk : {size_t{1}, size_t{7}, size_t{47}, bytes.size()}) {
    sim::StreamCounter counter;
    sim::SimStats got;
    for (size_t at = 0; at < bytes.size(); at += chunk)
      counter.Feed(bytes.data() + at, std::min(chunk, bytes.size() - at), got);
    EXPECT_EQ(got.packets, 30u) << chunk;
    EXPECT_EQ(got.points, 360u) << chunk;
    EXPECT_EQ(got.badCrc, sent.badCrc) << chunk;
    EXPECT_EQ(got.garbageBytes, sent.garbageBytes) << chunk;
    EXPECT_EQ(got.acks, 2u) << chunk;
  }
  EXPECT_EQ(sent.badCrc, 7u);
  EXPECT_EQ(sent.garbageBytes, 6u * 3);
}

TEST(SimPacer, LineRateWinsOverTheScene) {
  EXPECT_EQ(sim::LinePacer::ByteTimeNs(230400), 43403);
  EXPECT_EQ(sim::LinePacer::PacketPeriodNs(4500, 230400), 2666667);
  // 4500 points/s do not fit through 115200 bit/s: one packet per 47 bytes.
  EXPECT_EQ(sim::LinePacer::PacketPeriodNs(4500, 115200), 47 * sim::LinePacer::ByteTimeNs(115200));
  EXPECT_EQ(sim::LinePacer::PacketPeriodNs(0, 460800), 47 * sim::LinePacer::ByteTimeNs(460800));
}

TEST(SimPacer, LateWakeUpsDoNotDrift) {
  sim::LinePacer pacer(43403, 2666667);
  uint64_t next = 0;
  int64_t now = 0;
  for (int i = 0; i < 100000; ++i) {
    auto slot = pacer.Next(next, now);
    ASSERT_EQ(slot.index, next);
    ASSERT_EQ(slot.sendAtNs, static_cast<int64_t>(next) * 2666667);
    now = slot.sendAtNs + (i * 7919) % 1500000;  // woke up to 1.5 ms late
    pacer.Book(slot.sendAtNs, 47);
    next = slot.index + 1;
  }
}

TEST(SimPacer, BusyLineDropsStalePacketsAndNeverOverlaps) {
  const int64_t byteNs = sim::LinePacer::ByteTimeNs(115200);
  sim::LinePacer pacer(byteNs, 47 * byteNs);  // the line is the bottleneck
  uint64_t next = 0, dropped = 0;
  int64_t lineFree = 0;
  for (int i = 0; i < 1000; ++i) {
    auto slot = pacer.Next(next, lineFree);
    ASSERT_GE(slot.sendAtNs, lineFree);
    dropped += slot.index - next;
    size_t bytes = 47 + (i % 10 == 0 ? 30 : 0);  // junk every tenth packet
    pacer.Book(slot.sendAtNs, bytes);
    lineFree = slot.sendAtNs + static_cast<int64_t>(bytes) * byteNs;
    next = slot.index + 1;
  }
  EXPECT_GT(dropped, 0u);
  // After a stall of a second, sending resumes with the latest packet.
  auto slot = pacer.Next(next, lineFree + 1'000'000'000);
  EXPECT_GE(slot.index, static_cast<uint64_t>((lineFree + 900'000'000) / (47 * byteNs)));
}

sim::ParseResult Parse(std::vector<std::string> args) { return sim::ParseSimOptions(args); }

TEST(SimOptions, DefaultsAndValues) {
  auto r = Parse({});
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.options.baud, 230400);
  EXPECT_EQ(r.options.rps, 10.0);
  EXPECT_EQ(r.options.pps, 4500.0);
  EXPECT_EQ(r.options.ack, sim::AckStyle::Short);
  EXPECT_FALSE(r.options.autostart);

  r = Parse({"--link",
             "/tmp/x",
             "--ack=long",
             "--rps",
             "6.5",
             "--pps",
             "max",
             "--baud",
             "115200",
             "--seed=9",
             "--bad-crc-every",
             "10",
             "--garbage-every",
             "3",
             "--garbage-bytes",
             "5",
             "--hangup-after",
             "100",
             "--capture",
             "c.bin",
             "--stats-file",
             "s.txt"});
  ASSERT_TRUE(r.ok) << r.error;
  const sim::SimOptions& o = r.options;
  EXPECT_EQ(o.linkPath, "/tmp/x");
  EXPECT_EQ(o.ack, sim::AckStyle::Long);
  EXPECT_EQ(o.rps, 6.5);
  EXPECT_EQ(o.pps, 0.0);
  EXPECT_EQ(o.baud, 115200);
  EXPECT_EQ(o.seed, 9u);
  EXPECT_EQ(o.badCrcEvery, 10u);
  EXPECT_EQ(o.garbageEvery, 3u);
  EXPECT_EQ(o.garbageBytes, 5u);
  EXPECT_EQ(o.hangupAfter, 100u);
  EXPECT_EQ(o.captureFile, "c.bin");
  EXPECT_EQ(o.statsFile, "s.txt");
  EXPECT_EQ(Parse({"--no-ack", "--autostart"}).options.ack, sim::AckStyle::None);
  r = Parse({"--replay", "r.bin", "--wait-start"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.options.replayFile, "r.bin");
  EXPECT_TRUE(r.options.waitStart);
}

TEST(SimOptions, RejectsBadArguments) {
  for (const std::vector<std::string>& bad : {std::vector<std::string>{"--frobnicate"},
                                              {"extra"},
                                              {"--link"},
                                              {"--rps", "0"},
                                              {"--rps", "ten"},
                                              {"--pps", "-5"},
                                              {"--baud", "12x"},
                                              {"--ack", "maybe"},
                                              {"--bad-crc-every", "0"},
                                              {"--garbage-every", "2", "--garbage-bytes", "0"},
                                              {"--garbage-bytes", "4"},
                                              {"--seed", "-1"},
                                              {"--link", "/tmp/a", "--device", "/dev/null"},
                                              {"--wait-start"},
                                              {"--replay", "r", "--hangup-after", "3"},
                                              {"--replay", "r", "--capture", "r"},
                                              {"--autostart=1"},
                                              {"--link="}}) {
    auto r = Parse(bad);
    EXPECT_FALSE(r.ok) << bad.front();
    EXPECT_FALSE(r.error.empty());
  }
}

}  // namespace
