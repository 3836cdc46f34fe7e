#pragma once

#include <array>
#include <cstdint>
#include <random>

#include "protocol/KXPacket.h"
#include "sim/SimScene.h"

namespace sim {

using PacketBytes = std::array<uint8_t, kx::kPacketSize>;

// The fields of one measurement packet, in wire units.
struct PacketFields {
  uint16_t speedDegPerSec = 0;
  uint16_t startAngleCdeg = 0;  // hundredths of a degree, angle of point 0
  uint16_t endAngleCdeg = 0;    // hundredths of a degree, angle of point 11
  uint16_t timestampMs = 0;
  std::array<uint16_t, kx::kPointsPerPacket> distanceMm{};
  std::array<uint8_t, kx::kPointsPerPacket> intensity{};
};

// Lays the fields out little-endian and appends the CRC-8.
PacketBytes EncodePacket(const PacketFields& fields);

// The angle in degrees at which a receiver places point k of a packet: the
// two angle fields interpolated linearly, across 0 when the end is smaller.
double PointAngleDeg(const PacketFields& fields, int k);

// Turns the scene into the packet stream of a sensor that spins at `rps`
// revolutions per second and sends one packet every `packetPeriodNs`.
// Packet i is measured at time i * period since the sensor came up; its
// angles and timestamp follow from that time, so a packet that is never sent
// (sensor stopped, line busy) leaves a gap just as on a real device.
class ScanGenerator {
 public:
  // Noise is Gaussian with this standard deviation, clipped to the bound.
  static constexpr double kNoiseSigmaMm = 3.0;
  static constexpr double kNoiseBoundMm = 10.0;

  ScanGenerator(const SimScene& scene, double rps, int64_t packetPeriodNs, uint64_t seed);

  PacketFields MakePacket(uint64_t index);

  // Noise with this standard deviation instead of kNoiseSigmaMm, clipped at
  // the same multiple of it.
  void SetNoise(double sigmaMm) { noiseSigmaMm_ = sigmaMm; }
  // A marker at kMarkerFromDeg..kMarkerToDeg: kMarkerEvenMm away in even
  // revolutions and kMarkerOddMm in odd ones, so that each revolution can be
  // told from the one before on the screen.
  void SetMarker(bool on) { marker_ = on; }
  static constexpr double kMarkerFromDeg = 140.0;
  static constexpr double kMarkerToDeg = 160.0;
  static constexpr double kMarkerEvenMm = 1000.0;
  static constexpr double kMarkerOddMm = 2000.0;
  // Whole revolutions completed by the time point 11 of packet `index` is
  // measured.
  uint64_t RevolutionAtEnd(uint64_t index) const;

  double PointStepDeg() const { return pointStepDeg_; }
  uint16_t SpeedField() const { return speedField_; }
  int64_t PacketPeriodNs() const { return periodNs_; }

 private:
  double Noise();

  const SimScene& scene_;
  double rps_;
  int64_t periodNs_;
  double pointStepDeg_;
  uint16_t speedField_;
  std::mt19937_64 rng_;
  double noiseSigmaMm_ = kNoiseSigmaMm;
  bool marker_ = false;
};

}  // namespace sim
