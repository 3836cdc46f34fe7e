#include "sim/SimPacer.h"

#include <algorithm>
#include <cmath>

#include "protocol/KXPacket.h"

namespace sim {

int64_t LinePacer::ByteTimeNs(int baud) { return std::llround(10e9 / baud); }

int64_t LinePacer::PacketPeriodNs(double pointsPerSecond, int baud) {
  int64_t line = static_cast<int64_t>(kx::kPacketSize) * ByteTimeNs(baud);
  if (pointsPerSecond <= 0) return line;
  int64_t scene = std::llround(kx::kPointsPerPacket * 1e9 / pointsPerSecond);
  return std::max(scene, line);
}

LinePacer::LinePacer(int64_t byteTimeNs, int64_t packetPeriodNs) : byteNs_(byteTimeNs), periodNs_(packetPeriodNs) {}

LinePacer::Slot LinePacer::Next(uint64_t firstIndex, int64_t nowNs) const {
  int64_t ready = std::max({lineFreeNs_, nowNs - kMaxLagNs, int64_t{0}});
  uint64_t index = std::max(firstIndex, static_cast<uint64_t>(ready / periodNs_));
  int64_t measured = static_cast<int64_t>(index) * periodNs_;
  return Slot{index, std::max(measured, lineFreeNs_)};
}

uint64_t LinePacer::FirstIndexAfter(int64_t nowNs) const {
  if (nowNs <= 0) return 0;
  return static_cast<uint64_t>((nowNs + periodNs_ - 1) / periodNs_);
}

void LinePacer::Book(int64_t atNs, size_t bytes) {
  lineFreeNs_ = std::max(lineFreeNs_, atNs) + static_cast<int64_t>(bytes) * byteNs_;
}

}  // namespace sim
