#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "sim/SimPacket.h"

namespace sim {

// Counters of what the simulator has put on the line.
struct SimStats {
  uint64_t packets = 0;       // measurement packets, bad ones included
  uint64_t badCrc = 0;        // packets sent with a wrong CRC
  uint64_t garbageBytes = 0;  // junk bytes inserted between packets
  uint64_t bytes = 0;         // every byte written, acknowledgements included
  uint64_t points = 0;        // points carried by the packets
  uint64_t acks = 0;          // acknowledgement frames sent
};

// key=value lines, one per counter.
std::string FormatStatsFile(const SimStats& stats);
// The one-line summary printed at exit.
std::string FormatSummary(const SimStats& stats);

// Counts what a replayed byte stream carries, framing it the way a receiver
// does: measurement packets (with their CRC checked), the two acknowledgement
// frames, response frames by their length byte, and anything else as junk.
// Bytes of a frame that is not yet complete wait for the next Feed.
class StreamCounter {
 public:
  void Feed(const uint8_t* data, size_t size, SimStats& stats);

 private:
  std::vector<uint8_t> held_;
};

struct FaultConfig {
  uint64_t badCrcEvery = 0;   // 0 = never
  uint64_t garbageEvery = 0;  // 0 = never
  uint64_t garbageBytes = 0;
};

// Spoils packets in a repeatable way: every Nth packet gets a wrong CRC,
// every Mth packet is followed by K junk bytes. Junk never contains a byte
// that could start a frame, so a receiver skips exactly K bytes each time.
class FaultInjector {
 public:
  FaultInjector(const FaultConfig& config, uint64_t seed);

  // `number` counts packets from 1. May corrupt the packet's CRC; appends any
  // junk to send after it to `junk`. Returns true when the CRC was spoilt.
  bool Apply(uint64_t number, PacketBytes& packet, std::vector<uint8_t>& junk);

  static bool CanStartFrame(uint8_t byte);

 private:
  FaultConfig config_;
  std::mt19937_64 rng_;
};

}  // namespace sim
