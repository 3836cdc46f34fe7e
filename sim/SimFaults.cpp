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

void StreamCounter::Feed(const uint8_t* data, size_t size, SimStats& stats) {
  held_.insert(held_.end(), data, data + size);
  size_t pos = 0;
  while (held_.size() - pos >= 2) {
    const uint8_t* p = held_.data() + pos;
    size_t left = held_.size() - pos;
    size_t need = 1;
    if (p[0] == kx::kPacketHeader && p[1] == kx::kPacketVerLen) {
      need = kx::kPacketSize;
      if (left < need) break;
      ++stats.packets;
      stats.points += kx::kPointsPerPacket;
      if (kx::Crc8(p, kx::kOffCrc) != p[kx::kOffCrc]) ++stats.badCrc;
    } else if (p[0] == kx::kAckShort[0] && p[1] == kx::kAckShort[1]) {
      need = sizeof kx::kAckShort;
      ++stats.acks;
    } else if (p[0] == kx::kAckLong[0] && p[1] == kx::kAckLong[1]) {
      need = sizeof kx::kAckLong;
      if (left < need) break;
      ++stats.acks;
    } else if (p[0] == kx::kResponseHeader && p[1] >= 4) {
      need = p[1];
      if (left < need) break;
    } else {
      ++stats.garbageBytes;
    }
    pos += need;
  }
  held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(pos));
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
