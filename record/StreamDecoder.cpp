#include "record/StreamDecoder.h"

#include <algorithm>

namespace {
// The size of one read of the serial port, so the receiver sees what it
// would see on the line, and at most ten packets between two drains.
constexpr size_t kSlice = 512;
}  // namespace

StreamDecoder::StreamDecoder(float angleOffset) { decoder.SetAngleOffset(angleOffset); }

std::vector<KXScanPoint> StreamDecoder::Decode(const std::vector<uint8_t>& bytes) {
  std::vector<KXScanPoint> batch;
  for (size_t pos = 0; pos < bytes.size(); pos += kSlice) {
    const size_t n = std::min(kSlice, bytes.size() - pos);
    decoder.OnDataReceived(bytes.data() + pos, static_cast<uint32_t>(n));
    std::vector<KXScanPoint> points = decoder.TakeScanPoints();
    batch.insert(batch.end(), points.begin(), points.end());
  }
  return batch;
}
