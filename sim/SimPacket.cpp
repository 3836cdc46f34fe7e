#include "sim/SimPacket.h"

#include <algorithm>
#include <cmath>

namespace sim {

PacketBytes EncodePacket(const PacketFields& f) {
  PacketBytes p{};
  p[0] = kx::kPacketHeader;
  p[1] = kx::kPacketVerLen;
  kx::WriteU16(&p[kx::kOffSpeed], f.speedDegPerSec);
  kx::WriteU16(&p[kx::kOffStartAngle], f.startAngleCdeg);
  for (int k = 0; k < kx::kPointsPerPacket; ++k) {
    kx::WriteU16(&p[kx::kOffPoints + 3 * k], f.distanceMm[k]);
    p[kx::kOffPoints + 3 * k + 2] = f.intensity[k];
  }
  kx::WriteU16(&p[kx::kOffEndAngle], f.endAngleCdeg);
  kx::WriteU16(&p[kx::kOffTimestamp], f.timestampMs);
  p[kx::kOffCrc] = kx::Crc8(p.data(), kx::kOffCrc);
  return p;
}

double PointAngleDeg(const PacketFields& f, int k) {
  double start = f.startAngleCdeg * 0.01;
  double end = f.endAngleCdeg * 0.01;
  if (start > end) end += 360.0;
  double a = start + k * (end - start) / (kx::kPointsPerPacket - 1);
  return a >= 360.0 ? a - 360.0 : a;
}

ScanGenerator::ScanGenerator(const SimScene& scene, double rps, int64_t packetPeriodNs, uint64_t seed)
    : scene_(scene),
      rps_(rps),
      periodNs_(packetPeriodNs),
      pointStepDeg_(360.0 * rps * (static_cast<double>(packetPeriodNs) / 1e9) / kx::kPointsPerPacket),
      speedField_(static_cast<uint16_t>(std::lround(std::min(360.0 * rps, 65535.0)))),
      rng_(seed) {}

double ScanGenerator::Noise() {
  // Box-Muller on the engine's raw output: the same seed gives the same
  // stream with every standard library.
  constexpr double kScale = 1.0 / 18446744073709551616.0;  // 2^-64
  double u1 = (static_cast<double>(rng_()) + 0.5) * kScale;
  double u2 = (static_cast<double>(rng_()) + 0.5) * kScale;
  double n = std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * 3.14159265358979323846 * u2);
  const double bound = noiseSigmaMm_ * (kNoiseBoundMm / kNoiseSigmaMm);
  return std::clamp(n * noiseSigmaMm_, -bound, bound);
}

uint64_t ScanGenerator::RevolutionAtEnd(uint64_t index) const {
  const long double turns =
      static_cast<long double>(index) * periodNs_ * rps_ / 1e9L + pointStepDeg_ * (kx::kPointsPerPacket - 1) / 360.0L;
  return static_cast<uint64_t>(turns);
}

PacketFields ScanGenerator::MakePacket(uint64_t index) {
  PacketFields f;
  f.speedDegPerSec = speedField_;
  // Whole revolutions are removed in integer nanoseconds first so that the
  // angle keeps its precision however long the sensor runs.
  long double tNs = static_cast<long double>(index) * periodNs_;
  long double startDeg = std::fmod(tNs * 360.0L * rps_ / 1e9L, 360.0L);
  long startC = std::lround(static_cast<double>(startDeg) * 100.0) % 36000;
  long endC = std::lround((static_cast<double>(startDeg) + pointStepDeg_ * (kx::kPointsPerPacket - 1)) * 100.0) % 36000;
  f.startAngleCdeg = static_cast<uint16_t>(startC);
  f.endAngleCdeg = static_cast<uint16_t>(endC);
  f.timestampMs = static_cast<uint16_t>(static_cast<uint64_t>(tNs / 1000000.0L) & 0xFFFF);
  for (int k = 0; k < kx::kPointsPerPacket; ++k) {
    // Measure where the receiver will place the point, so that decoded
    // angle and distance agree with the scene.
    const double angle = PointAngleDeg(f, k);
    SimHit hit = scene_.Cast(angle);
    if (marker_ && angle >= kMarkerFromDeg && angle < kMarkerToDeg) {
      const long double turns = tNs * rps_ / 1e9L + pointStepDeg_ * k / 360.0L;
      hit.distanceMm = static_cast<uint64_t>(turns) % 2 == 0 ? kMarkerEvenMm : kMarkerOddMm;
    }
    double d = std::clamp(hit.distanceMm + Noise(), 0.0, 65535.0);
    f.distanceMm[k] = static_cast<uint16_t>(std::lround(d));
    f.intensity[k] = SimScene::IntensityFor(hit);
  }
  return f;
}

}  // namespace sim
