#pragma once

#include <cstdint>
#include <memory>
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
    long outages = 0;             // gaps in the link (see Gap)
    int64_t outageMs = 0;         // their total length
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
  // at this poll, for the statistics of the revolutions it completes. Taken
  // after the poll's points, the counters also tell how many decoded points
  // the protocol's queue dropped before them.
  void SetLink(const KXLinkStats& counters, float speedRpm, int64_t timeMs);

  // Files one batch. False when an output failed; `error` then says why. A
  // diagnostic line about an angle anomaly, if any, is left in `anomaly`.
  bool ProcessBatch(std::vector<KXScanPoint> batch, std::string& error, std::string& anomaly);

  // Files the points of one poll, a backlog in several batches as
  // FrameAssembler::InBatches divides it. Anomaly lines are appended to
  // `anomalies`.
  bool ProcessPoll(std::vector<KXScanPoint> points, std::string& error, std::vector<std::string>& anomalies);

  // The link was down from `lostMs` until `backMs` (ms since the start): the
  // statistics get a row that marks the gap, and the points that follow start
  // afresh, as after a connect, so that no revolution spans the gap. With a
  // revolution limit, the revolution the gap cut is not counted (its rows
  // already written stay) and the first one after it is partial, like the
  // first of a recording. False when the statistics file failed.
  bool Gap(int64_t lostMs, int64_t backMs, std::string& error);

  const Counters& Stats() const { return counters; }
  // Where the recorded revolutions lie in the stream of decoded points, for
  // the raw file's cut (see SetLink: the points the protocol's queue
  // dropped count too).
  const RecordedSpan& Span() const { return span; }
  bool RevolutionLimitReached() const { return maxRevolutions > 0 && rowSplitter.Passes() > SegmentLimit(); }

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
  std::unique_ptr<FrameAssembler> assembler;
  Counters counters;
  // Revolutions to go in this stretch of the link, with a revolution limit.
  long SegmentLimit() const { return maxRevolutions - keptBefore; }
  // Writes the statistics rows of the revolutions a batch completed.
  bool WriteFigures(const std::vector<RevolutionFigures>& figures, std::string& error);
  // Where the recorded rows pass 0 degrees, since the start or the last gap.
  RevolutionSplitter rowSplitter;
  long keptBefore = 0;       // complete revolutions counted before the last gap
  long statsNumberBase = 0;  // statistics rows numbered before the last gap
  long statsNumber = 0;      // number of the last statistics row
  RecordedSpan span;
};
