#include "sim/SimFaults.h"

#include <sstream>

#include "protocol/KXPacket.h"

namespace sim {

std::string FormatStatsFile(const SimStats& s) {
  std::ostringstream out;
  out << "packets=" << s.packets << "\nbad_crc=" << s.badCrc << "\ngarbage_bytes=" << s.garbageBytes
      << "\nbytes=" << s.bytes << "\npoints=" << s.points << "\nacks=" << s.acks << "\n";
  return out.str();
}

std::string FormatSummary(const SimStats& s) {
  std::ostringstream out;
  out << "lds-sim: packets=" << s.packets << " bad_crc=" << s.badCrc << " garbage_bytes=" << s.garbageBytes
      << " bytes=" << s.bytes << " points=" << s.points << " acks=" << s.acks;
  return out.str();
}

FaultInjector::FaultInjector(const FaultConfig& config, uint64_t seed) : config_(config), rng_(seed ^ 0x5eed0f1u) {}

bool FaultInjector::CanStartFrame(uint8_t b) {
  return b == kx::kPacketHeader || b == kx::kAckShort[0] || b == kx::kAckLong[0] || b == kx::kResponseHeader;
}

bool FaultInjector::Apply(uint64_t number, PacketBytes& packet, std::vector<uint8_t>& junk) {
  bool spoilt = false;
  if (config_.badCrcEvery > 0 && number % config_.badCrcEvery == 0) {
    // Any non-zero XOR changes the value; vary it so that a receiver cannot
    // get away with checking one particular corruption.
    uint8_t flip = static_cast<uint8_t>(1 + rng_() % 255);
    packet[kx::kOffCrc] ^= flip;
    spoilt = true;
  }
  if (config_.garbageEvery > 0 && number % config_.garbageEvery == 0) {
    for (uint64_t i = 0; i < config_.garbageBytes; ++i) {
      uint8_t b;
      do {
        b = static_cast<uint8_t>(rng_());
      } while (CanStartFrame(b));
      junk.push_back(b);
    }
  }
  return spoilt;
}

}  // namespace sim
