#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "protocol/KXProtocol.h"
#include "scan/FrameAssembler.h"

// The figures of one completed revolution.
struct RevolutionFigures {
  long number = 0;           // 1 for the first revolution completed (it began when the points began)
  int64_t timeMs = 0;        // when it completed, on the caller's clock
  int64_t durationMs = 0;    // since the previous one completed; the first: since its first point
  float speedRpm = 0.0f;     // the rotation speed the sensor reported at its end
  uint32_t points = 0;       // points filed
  uint32_t emptyPoints = 0;  // of them, points with distance 0 (nothing measured)
  // Of the non-zero distances, in millimetres (the median is the lower middle
  // one); 0 when the revolution has none.
  uint16_t minMm = 0;
  uint16_t medianMm = 0;
  uint16_t maxMm = 0;
  uint64_t crcErrors = 0;  // link counters since the previous revolution
  uint64_t skippedBytes = 0;
};

// Per-revolution statistics, fed with every result of FrameAssembler::Step.
// A revolution ends where the filed points pass 0 degrees in the batch that
// completes the assembler's frame: the points of that batch before the pass
// still count for the revolution that ends, the rest for the next one, so
// that a steady sensor shows the same count every turn however the polls fall.
// No thread, no widget: the window's worker and the recorder both drive it.
class RevolutionStats {
 public:
  // `link` is the link counters' snapshot now, `speedRpm` the sensor's latest
  // speed and `timeMs` the time now; they are used when the result completes
  // a revolution, whose figures are then returned.
  std::optional<RevolutionFigures> Add(const FrameAssembler::Result& result, const KXLinkStats& link, float speedRpm,
                                       int64_t timeMs);

 private:
  void Count(const KXScanPoint& point);

  long completed = 0;
  bool started = false;
  int64_t lastEndMs = 0;
  int lastSlot = -1;  // slot of the last filed point
  KXLinkStats base;   // counters at the end of the previous revolution
  uint32_t points = 0;
  uint32_t emptyPoints = 0;
  std::vector<uint16_t> distances;  // non-zero distances of the revolution so far
};
