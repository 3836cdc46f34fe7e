#pragma once

#include <cstdint>
#include <vector>

#include "protocol/KXProtocol.h"
#include "scan/FrameAssembler.h"
#include "scan/RevolutionSplitter.h"

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
// The turns are those of RevolutionSplitter: the points of a batch before the
// pass of 0 degrees count for the revolution that ends, the rest for the next
// one, so that a steady sensor shows the same count every turn however the
// polls fall, and the turns are those of the recorded rows. No thread, no widget: the
// window's worker and the recorder both drive it.
class RevolutionStats {
 public:
  // `link` is the link counters' snapshot now, `speedRpm` the sensor's latest
  // speed and `timeMs` the time now. Returns the figures of the revolutions
  // the result completes: none, one, or several after a backlog.
  std::vector<RevolutionFigures> Add(const FrameAssembler::Result& result, const KXLinkStats& link, float speedRpm,
                                     int64_t timeMs);

 private:
  void Count(const KXScanPoint& point);
  RevolutionFigures Complete(const KXLinkStats& link, float speedRpm, int64_t timeMs);

  long completed = 0;
  bool started = false;
  int64_t lastEndMs = 0;
  RevolutionSplitter splitter;
  KXLinkStats base;  // counters at the end of the previous revolution
  uint32_t points = 0;
  uint32_t emptyPoints = 0;
  std::vector<uint16_t> distances;  // non-zero distances of the revolution so far
};
