#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "record/RecordOutputs.h"
#include "scan/FrameAssembler.h"
#include "scan/RevolutionSplitter.h"
#include "scan/RevolutionStats.h"
#include "scan/ScanFilter.h"

// Everything a recording does with the decoded points, without the port: each
// batch goes through a FrameAssembler exactly as in the window's worker; filed
// points become CSV rows, completed revolutions become PCD files.
class RecordSession {
 public:
  struct Counters {
    uint64_t pointsTaken = 0;     // points handed in, batch by batch
    uint64_t pointsFiled = 0;     // points filed into a slot (the CSV rows)
    uint64_t droppedBatches = 0;  // batches whose last angle had no slot
    long revolutions = 0;         // completed revolutions
    long revolutionsWritten = 0;  // of them written as PCD files
  };

  // The outputs are optional (null when not recorded) and owned by the caller.
  // `maxRevolutions` > 0 records that many complete revolutions: the rows
  // from the first point after the angle first passes 0 degrees up to the
  // last point before it passes 0 for the (maxRevolutions + 1)th time, and
  // the frames completed in between. The first, partial revolution and
  // whatever follows the last are not written.
  RecordSession(const ScanSettings& settings, CsvRecorder* csv, PcdRecorder* pcd, long maxRevolutions = 0,
                StatsRecorder* stats = nullptr);

  // The link counters, the sensor's speed and the time (ms since the start)
  // at this poll, for the statistics of the revolutions it completes.
  void SetLink(const KXLinkStats& counters, float speedRpm, int64_t timeMs);

  // Files one batch. False when an output failed; `error` then says why. A
  // diagnostic line about an angle anomaly, if any, is left in `anomaly`.
  bool ProcessBatch(std::vector<KXScanPoint> batch, std::string& error, std::string& anomaly);

  // Files the points of one poll. A normal poll carries at most about ten
  // packets; a backlog after a stall is filed in batches of at most
  // `kMaxBatchPoints` (whole packets), so that every revolution in it is still
  // detected and written. Anomaly lines are appended to `anomalies`.
  static constexpr size_t kMaxBatchPoints = 12 * 12;
  bool ProcessPoll(std::vector<KXScanPoint> points, std::string& error, std::vector<std::string>& anomalies);

  const Counters& Stats() const { return counters; }
  bool RevolutionLimitReached() const { return maxRevolutions > 0 && rowSplitter.Passes() > maxRevolutions; }

 private:
  ScanSettings settings;
  CsvRecorder* csv;
  PcdRecorder* pcd;
  long maxRevolutions;
  StatsRecorder* stats;
  KXLinkStats link;
  float speedRpm = 0.0f;
  int64_t timeMs = 0;
  RevolutionStats revolutionStats;
  ScanFilter scanFilter;
  FrameAssembler assembler;
  Counters counters;
  // Writes the statistics rows of the revolutions a batch completed.
  bool WriteFigures(const std::vector<RevolutionFigures>& figures, std::string& error);
  RevolutionSplitter rowSplitter;  // where the recorded rows pass 0 degrees
};
