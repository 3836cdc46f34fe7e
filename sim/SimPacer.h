#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

// Decides when each packet goes out. Times are nanoseconds since the sensor
// came up. Every send is booked at its planned time, not at the time the
// process got round to it, so that late wake-ups do not add up to drift.
class LinePacer {
 public:
  // A process stalled for longer than this drops the packets it missed
  // instead of bursting them out.
  static constexpr int64_t kMaxLagNs = 100'000'000;

  // Bytes are 10 bits on the wire (start, 8 data, stop).
  static int64_t ByteTimeNs(int baud);
  // The scene's packet period, or the line's when the line is slower; a
  // `pointsPerSecond` of 0 asks for the line's.
  static int64_t PacketPeriodNs(double pointsPerSecond, int baud);

  LinePacer(int64_t byteTimeNs, int64_t packetPeriodNs);

  struct Slot {
    uint64_t index;  // packet index (its measuring time is index * period)
    int64_t sendAtNs;
  };
  // The next packet to send, at or after `firstIndex`. When the line is
  // still busy past later measuring times, the older packets are dropped:
  // the sensor only ever holds its latest packet.
  Slot Next(uint64_t firstIndex, int64_t nowNs) const;
  // The first packet measured at or after `nowNs` (used when streaming starts).
  uint64_t FirstIndexAfter(int64_t nowNs) const;
  // Books `bytes` on the line starting no earlier than `atNs`.
  void Book(int64_t atNs, size_t bytes);

  int64_t LineFreeNs() const { return lineFreeNs_; }
  int64_t PeriodNs() const { return periodNs_; }

 private:
  int64_t byteNs_;
  int64_t periodNs_;
  int64_t lineFreeNs_ = 0;
};

}  // namespace sim
