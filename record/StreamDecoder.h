#pragma once

#include <cstdint>
#include <vector>

#include "protocol/KXProtocol.h"

// Turns the received byte stream into points with a decoder of its own. The
// connected protocol object keeps at most 30 packets in its queue and drops
// the oldest beyond that, which a recording cannot afford: when the host
// stalls or the bytes arrive in a burst, a 10 ms poll comes too late. Fed
// from the raw observer and drained after every slice, this decoder never
// reaches that limit, and one call returns exactly the batch that a poll of
// the connected object would have returned had nothing been dropped.
class StreamDecoder {
 public:
  explicit StreamDecoder(float angleOffset);
  std::vector<KXScanPoint> Decode(const std::vector<uint8_t>& bytes);
  uint64_t Packets() { return decoder.GetLinkStats().packets; }

 private:
  KXProtocol decoder;
};
