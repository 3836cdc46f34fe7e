#pragma once

// Feeds bytes to the real receiver in chunks, as the serial port would.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "protocol/KXProtocol.h"

struct DecodedStream {
  std::vector<KXScanPoint> points;
  KXLinkStats stats;
  float speedRpm = 0;
  uint16_t timestamp = 0;
};

inline DecodedStream DecodeStream(const std::vector<uint8_t>& bytes, size_t chunk = 512) {
  KXProtocol protocol;
  DecodedStream out;
  for (size_t at = 0; at < bytes.size(); at += chunk) {
    protocol.OnDataReceived(bytes.data() + at, static_cast<uint32_t>(std::min(chunk, bytes.size() - at)));
    auto pts = protocol.TakeScanPoints();
    out.points.insert(out.points.end(), pts.begin(), pts.end());
  }
  out.stats = protocol.GetLinkStats();
  protocol.GetSpeedAndTimestamp(&out.speedRpm, &out.timestamp);
  return out;
}
