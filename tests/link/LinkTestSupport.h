#pragma once

// Wire frames for the device-link tests, and a wait without fixed sleeps.
#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "protocol/KXPacket.h"

namespace linktest {

// A measurement packet whose twelve points carry distances first, first+1, ...
// and intensities 10, 11, ...; angles in hundredths of a degree.
inline std::vector<uint8_t> Packet(uint16_t first, uint16_t start = 0, uint16_t end = 1100, uint16_t speed = 3600,
                                   uint16_t stamp = 0) {
  std::vector<uint8_t> p(kx::kPacketSize, 0);
  p[0] = kx::kPacketHeader;
  p[1] = kx::kPacketVerLen;
  kx::WriteU16(&p[kx::kOffSpeed], speed);
  kx::WriteU16(&p[kx::kOffStartAngle], start);
  for (int k = 0; k < 12; ++k) {
    kx::WriteU16(&p[kx::kOffPoints + 3 * k], static_cast<uint16_t>(first + k));
    p[kx::kOffPoints + 3 * k + 2] = static_cast<uint8_t>(10 + k);
  }
  kx::WriteU16(&p[kx::kOffEndAngle], end);
  kx::WriteU16(&p[kx::kOffTimestamp], stamp);
  p[kx::kOffCrc] = kx::Crc8(p.data(), kx::kPacketSize - 1);
  return p;
}

inline std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline bool WaitFor(const std::function<bool()>& condition,
                    std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace linktest
