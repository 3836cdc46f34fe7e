#pragma once

#include <vector>

#include "lds/Revolution.h"
#include "lds/Settings.h"
#include "protocol/KXProtocol.h"
#include "scan/FrameAssembler.h"
#include "scan/RevolutionSplitter.h"
#include "scan/ScanFilter.h"

namespace lds {

// The programs' settings and counters in the library's words.
ScanSettings ToScanSettings(const Settings& settings);
LinkStats ToLinkStats(const KXLinkStats& stats);

// Turns decoded points into whole revolutions, the way the window's worker
// and the recorder file them: a FrameAssembler for the slots and the frames,
// RevolutionSplitter for where each revolution begins. No thread, no port:
// the sensor's reading thread and the raw reader both drive it.
class RevolutionBuilder {
 public:
  explicit RevolutionBuilder(const Settings& settings);
  // Applies to the points added from now on.
  void SetSettings(const Settings& settings);

  // Files the points of one poll; `speedRpm`, `timestamp` and `link` are the
  // decoder's at that poll. Appends the revolutions they complete to `done`.
  void Add(std::vector<KXScanPoint> points, float speedRpm, uint16_t timestamp, const LinkStats& link,
           std::vector<Revolution>& done);

 private:
  void AddBatch(std::vector<KXScanPoint> batch, std::vector<Revolution>& done);

  ScanSettings scan;
  ScanFilter filter;
  FrameAssembler assembler;
  RevolutionSplitter splitter;
  Revolution current;            // the revolution being collected, once the first has begun
  std::vector<Point> lastFrame;  // the frame published last
};

}  // namespace lds
