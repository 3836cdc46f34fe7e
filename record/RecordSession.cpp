#include "record/RecordSession.h"

#include <algorithm>
#include <sstream>
#include <utility>

RecordSession::RecordSession(const ScanSettings& scanSettings, CsvRecorder* csvRecorder, PcdRecorder* pcdRecorder,
                             long maxRevs)
    : settings(scanSettings), csv(csvRecorder), pcd(pcdRecorder), maxRevolutions(maxRevs), assembler(scanFilter) {}

bool RecordSession::ProcessBatch(std::vector<KXScanPoint> batch, std::string& error, std::string& anomaly) {
  anomaly.clear();
  counters.pointsTaken += batch.size();
  FrameAssembler::Result result = assembler.Step(std::move(batch), settings, true);
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
  counters.pointsFiled += result.csvRows.size();
  if (csv && !csv->WriteRows(result.csvRows, error)) return false;
  if (result.frameReady) {
    const bool wanted = maxRevolutions <= 0 || counters.revolutions < maxRevolutions;
    if (!wanted) return true;
    ++counters.revolutions;
    if (pcd) {
      if (!pcd->WriteRevolution(counters.revolutions, result.frame, error)) return false;
      ++counters.revolutionsWritten;
    }
  }
  return true;
}

bool RecordSession::ProcessPoll(std::vector<KXScanPoint> points, std::string& error,
                                std::vector<std::string>& anomalies) {
  if (points.size() <= kMaxBatchPoints) {
    std::string anomaly;
    const bool ok = ProcessBatch(std::move(points), error, anomaly);
    if (!anomaly.empty()) anomalies.push_back(anomaly);
    return ok;
  }
  for (size_t first = 0; first < points.size(); first += kMaxBatchPoints) {
    const size_t last = std::min(points.size(), first + kMaxBatchPoints);
    std::string anomaly;
    const bool ok =
        ProcessBatch(std::vector<KXScanPoint>(points.begin() + first, points.begin() + last), error, anomaly);
    if (!anomaly.empty()) anomalies.push_back(anomaly);
    if (!ok) return false;
  }
  return true;
}
