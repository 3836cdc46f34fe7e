#include "lds/RevolutionBuilder.h"

#include <algorithm>
#include <utility>

namespace lds {

namespace {

Point ToPoint(const KXScanPoint& p) { return {p.angle, p.distance, p.intensity}; }

}  // namespace

ScanSettings ToScanSettings(const Settings& s) {
  ScanSettings scan;
  scan.enableAngleCalib = s.angleCalib;
  scan.enableAlgoFilter = s.algoFilter;
  scan.enableDistCorrect = s.distCorrect;
  scan.enableWaterNoiseFilter = s.waterFilter;
  scan.diffThr = s.diffThr;
  scan.filterMinRange = s.minRange;
  scan.filterMaxRange = s.maxRange;
  scan.filterIntensityThr = s.intensityThr;
  scan.enableAngleEdgeFilter = s.edgeFilter;
  scan.edgeFilterMargin = s.edgeMargin;
  return scan;
}

LinkStats ToLinkStats(const KXLinkStats& k) {
  LinkStats s;
  s.bytesReceived = k.bytesReceived;
  s.packets = k.packets;
  s.crcErrors = k.crcErrors;
  s.skippedBytes = k.skippedBytes;
  s.overflowChunks = k.overflowChunks;
  s.acks = k.acks;
  s.droppedPoints = k.droppedPoints;
  return s;
}

RevolutionBuilder::RevolutionBuilder(const Settings& settings)
    : scan(ToScanSettings(settings)), assembler(filter), lastFrame(Revolution::kFrameSlots) {}

void RevolutionBuilder::SetSettings(const Settings& settings) { scan = ToScanSettings(settings); }

void RevolutionBuilder::Add(std::vector<KXScanPoint> points, float speedRpm, uint16_t timestamp, const LinkStats& link,
                            std::vector<Revolution>& done) {
  const size_t first = done.size();
  // A backlog goes in batches, as the recorder files it.
  FrameAssembler::InBatches(std::move(points), [&](std::vector<KXScanPoint> batch) {
    AddBatch(std::move(batch), done);
    return true;
  });
  for (size_t i = first; i < done.size(); ++i) {
    done[i].speedRpm = speedRpm;
    done[i].timestampMs = timestamp;
    done[i].link = link;
  }
}

void RevolutionBuilder::AddBatch(std::vector<KXScanPoint> batch, std::vector<Revolution>& done) {
  const FrameAssembler::Result result = assembler.Step(std::move(batch), scan, false);
  const size_t first = done.size();
  for (const KXScanPoint& p : result.filed) {
    if (splitter.Begins(p)) {
      if (splitter.Passes() >= 2) done.push_back(std::move(current));
      current = Revolution{};
      current.number = splitter.Passes();
    }
    if (splitter.Passes() >= 1) current.points.push_back(ToPoint(p));
  }
  if (result.frameReady) std::transform(result.frame.begin(), result.frame.end(), lastFrame.begin(), ToPoint);
  // Normally the batch that passes 0 degrees also completes the frame; when
  // the per-point filter drops every point after the pass, the frame follows
  // one batch later and the revolution keeps the one before.
  for (size_t i = first; i < done.size(); ++i) done[i].frame = lastFrame;
}

}  // namespace lds
