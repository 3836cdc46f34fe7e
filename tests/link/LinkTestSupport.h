#pragma once

// Helpers shared by the device-link tests: building wire frames and waiting
// for a condition without fixed sleeps.
#include <dirent.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "protocol/KXPacket.h"

namespace linktest {

struct PacketFields {
  uint16_t speed = 3600;  // degrees per second
  uint16_t startAngle = 0;
  uint16_t endAngle = 1100;
  uint16_t timestamp = 0;
  std::array<uint16_t, 12> distances{};
  std::array<uint8_t, 12> intensities{};
};

inline std::vector<uint8_t> MakePacket(const PacketFields& s) {
  std::vector<uint8_t> p(kx::kPacketSize, 0);
  p[0] = kx::kPacketHeader;
  p[1] = kx::kPacketVerLen;
  kx::WriteU16(&p[kx::kOffSpeed], s.speed);
  kx::WriteU16(&p[kx::kOffStartAngle], s.startAngle);
  for (int k = 0; k < 12; ++k) {
    kx::WriteU16(&p[kx::kOffPoints + 3 * k], s.distances[k]);
    p[kx::kOffPoints + 3 * k + 2] = s.intensities[k];
  }
  kx::WriteU16(&p[kx::kOffEndAngle], s.endAngle);
  kx::WriteU16(&p[kx::kOffTimestamp], s.timestamp);
  p[kx::kOffCrc] = kx::Crc8(p.data(), kx::kPacketSize - 1);
  return p;
}

// A packet whose points carry distances base, base+1, ... so that packets can
// be told apart after decoding.
inline std::vector<uint8_t> MakeNumberedPacket(uint16_t base, uint16_t timestamp = 0) {
  PacketFields s;
  s.timestamp = timestamp;
  for (int k = 0; k < 12; ++k) {
    s.distances[k] = static_cast<uint16_t>(base + k);
    s.intensities[k] = static_cast<uint8_t>(k * 20);
  }
  return MakePacket(s);
}

inline void Append(std::vector<uint8_t>& to, const std::vector<uint8_t>& bytes) {
  to.insert(to.end(), bytes.begin(), bytes.end());
}

inline bool WaitFor(const std::function<bool()>& condition,
                    std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Threads of this process. Sanitizer runtimes start a helper thread with the
// first thread the program creates, so one thread is started and joined first
// to keep that helper out of the comparisons.
inline int ThreadCount() {
  static const bool warmedUp = [] {
    std::thread([] {}).join();
    return true;
  }();
  (void)warmedUp;
  int count = 0;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.') ++count;
    closedir(dir);
  }
  return count;
}

}  // namespace linktest
