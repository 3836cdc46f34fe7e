#include "record/RecordSession.h"

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <utility>

RecordSession::RecordSession(const ScanSettings& scanSettings, CsvRecorder* csvRecorder, PcdRecorder* pcdRecorder,
                             long maxRevs, StatsRecorder* statsRecorder)
    : settings(scanSettings),
      csv(csvRecorder),
      pcd(pcdRecorder),
      maxRevolutions(maxRevs),
      stats(statsRecorder),
      assembler(std::make_unique<FrameAssembler>(scanFilter)) {}

void RecordSession::SetLink(const KXLinkStats& counters, float speed, int64_t ms) {
  link = counters;
  speedRpm = speed;
  timeMs = ms;
}

bool RecordSession::WriteFigures(const std::vector<RevolutionFigures>& figures, std::string& error) {
  for (RevolutionFigures f : figures) {
    if (maxRevolutions > 0) {
      // The partial first turn and whatever follows the last are left out,
      // as from the rows: the turns kept are numbered from 1.
      if (f.number < 2 || f.number > SegmentLimit() + 1) continue;
      f.number += keptBefore - 1;
    } else {
      f.number += statsNumberBase;
    }
    statsNumber = f.number;
    if (stats && !stats->WriteRevolution(f, error)) return false;
  }
  return true;
}

bool RecordSession::Gap(int64_t lostMs, int64_t backMs, std::string& error) {
  ++counters.outages;
  counters.outageMs += backMs - lostMs;
  scanFilter = ScanFilter();
  assembler = std::make_unique<FrameAssembler>(scanFilter);
  revolutionStats = RevolutionStats();
  statsNumberBase = statsNumber;
  keptBefore = counters.revolutions;
  rowSplitter = RevolutionSplitter();
  return !stats || stats->WriteGap(backMs, backMs - lostMs, error);
}

bool RecordSession::ProcessBatch(std::vector<KXScanPoint> batch, std::string& error, std::string& anomaly) {
  anomaly.clear();
  // The batch's place in the decoded stream: every point taken or dropped
  // before it came first.
  const uint64_t base = link.droppedPoints + counters.pointsTaken;
  counters.pointsTaken += batch.size();
  span.seen = base + batch.size();
  FrameAssembler::Result result = assembler->Step(std::move(batch), settings, true);
  const std::vector<RevolutionFigures> figures = revolutionStats.Add(result, link, speedRpm, timeMs);
  if (result.anomaly != FrameAssembler::Anomaly::None) {
    // Same wording as the window's debug log.
    std::ostringstream line;
    if (result.anomaly == FrameAssembler::Anomaly::AbnormalAngle) {
      line << "ERROR: abnormal angle found: " << result.endAngle;
    } else {
      line << "ERROR: abnormal angle change found: last pkg end at " << result.lastEndAngle << " current pkg end at "
           << result.endAngle;
    }
    anomaly = line.str();
  }
  if (result.outcome == FrameAssembler::Outcome::Dropped) ++counters.droppedBatches;
  if (maxRevolutions <= 0) {
    counters.pointsFiled += result.csvRows.size();
    if (csv && !csv->WriteRows(result.csvRows, error)) return false;
    if (!WriteFigures(figures, error)) return false;
    if (!result.frameReady) return true;
    ++counters.revolutions;
    if (pcd) {
      if (!pcd->WriteRevolution(counters.revolutions, result.frame, error)) return false;
      ++counters.revolutionsWritten;
    }
    return true;
  }

  // Revolution mode: the rows from the first pass of 0 degrees up to the
  // pass that ends the last revolution.
  const long wrapsBefore = rowSplitter.Passes();
  std::vector<KXScanPoint>& rows = result.csvRows;
  size_t begin = wrapsBefore >= 1 ? 0 : rows.size();
  const long limit = SegmentLimit();
  size_t end = wrapsBefore > limit ? 0 : rows.size();
  for (size_t i = 0; i < rows.size() && rowSplitter.Passes() <= limit; ++i) {
    if (!rowSplitter.Begins(rows[i])) continue;
    const int64_t at = static_cast<int64_t>(base + result.filedFrom[i]);
    if (rowSplitter.Passes() == 1) {
      begin = i;
      if (span.first < 0) span.first = at;
    }
    if (rowSplitter.Passes() > limit) {
      end = i;
      span.next = at;
    }
  }
  if (begin < end) {
    const std::vector<KXScanPoint> kept(rows.begin() + static_cast<std::ptrdiff_t>(begin),
                                        rows.begin() + static_cast<std::ptrdiff_t>(end));
    counters.pointsFiled += kept.size();
    if (csv && !csv->WriteRows(kept, error)) return false;
  }
  if (!WriteFigures(figures, error)) return false;
  counters.revolutions = keptBefore + std::min(std::max(rowSplitter.Passes() - 1, 0L), limit);
  // A frame completed before any revolution began is the partial first one.
  if (result.frameReady && wrapsBefore >= 1 && counters.revolutionsWritten < maxRevolutions && pcd) {
    if (!pcd->WriteRevolution(counters.revolutionsWritten + 1, result.frame, error)) return false;
    ++counters.revolutionsWritten;
  }
  return true;
}

bool RecordSession::ProcessPoll(std::vector<KXScanPoint> points, std::string& error,
                                std::vector<std::string>& anomalies) {
  return FrameAssembler::InBatches(std::move(points), [&](std::vector<KXScanPoint> batch) {
    std::string anomaly;
    const bool ok = ProcessBatch(std::move(batch), error, anomaly);
    if (!anomaly.empty()) anomalies.push_back(anomaly);
    return ok;
  });
}
