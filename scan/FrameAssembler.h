#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "protocol/KXScanPoint.h"
#include "scan/ScanFilter.h"

// The scan settings the operator can change, as one snapshot that the worker
// takes at the start of each pass.
struct ScanSettings {
  bool enableAngleCalib = true;
  bool enableAlgoFilter = false;
  bool enableDistCorrect = false;
  bool enableAngleEdgeFilter = false;
  float edgeFilterMargin = 1.5f;
  bool enableWaterNoiseFilter = false;
  double diffThr = 120.0;
  int filterMinRange = 300;
  int filterMaxRange = 1500;
  int filterIntensityThr = 40;
};

// Files batches of decoded points into 600 slots of 0.6 degrees, detects each
// completed revolution and hands out the finished frame. It needs no thread,
// port or widget: the window's worker and the headless recorder both drive it
// with the batches they take from the protocol object.
class FrameAssembler {
 public:
  static constexpr int kSlotCount = 600;

  enum class Outcome {
    Idle,         // empty batch, fewer than 100 empty polls in a row
    IdleTimeout,  // empty batch after 100 empty polls: show "0 r/min" and "-1 ms"
    Dropped,      // the batch's last point lies outside every slot; nothing filed
    Filed,        // the batch was filed
  };
  enum class Anomaly { None, AbnormalAngle, AbnormalAngleChange };

  struct Result {
    Outcome outcome = Outcome::Idle;
    bool frameReady = false;
    std::vector<KXScanPoint> frame;  // the published frame (600 points) when frameReady
    // Points filed while recording, in filing order. The caller writes them
    // only if recording is still on when it gets to them, and otherwise drops
    // them: they are never held over for a later recording.
    std::vector<KXScanPoint> csvRows;
    // Every point filed by this batch, in filing order, recording or not:
    // what the per-revolution statistics count.
    std::vector<KXScanPoint> filed;
    // For each filed point, the index in the batch of the point it was made
    // from: where in the stream of decoded points a revolution begins.
    std::vector<uint32_t> filedFrom;
    Anomaly anomaly = Anomaly::None;
    float lastEndAngle = 0.0f;  // for AbnormalAngleChange
    float endAngle = 0.0f;      // the batch's last angle, for both anomalies
  };

  // The filter object carries the per-point filter's windows; it is owned by
  // the caller and used by this assembler alone.
  explicit FrameAssembler(ScanFilter& filter);

  // Slot of an angle: trunc(angle / 0.6f + 0.5); may lie outside 0..599
  // (-1 for angles that give no number at all, such as NaN).
  static int SlotOfAngle(float angle);
  // The slot a point is filed into: as SlotOfAngle, except that 600 (angles
  // from 359.7 up to 360.3 degrees) is the same direction as slot 0 and is
  // filed there. -1 when the angle lies outside every slot.
  static int FilingSlot(float angle);

  // Frame reset after a connect: empties all slots and returns the empty frame.
  std::vector<KXScanPoint> Reset();

  // One poll. `recording` says whether filed points become CSV rows.
  Result Step(std::vector<KXScanPoint> batch, const ScanSettings& settings, bool recording);

  // A poll normally carries at most about ten packets. A backlog after a
  // stall goes in batches of at most kMaxBatchPoints (whole packets): a
  // revolution is seen to end only where a batch ends less than half a turn
  // after the last, so each revolution in the backlog needs a batch ending in
  // it. Calls `step` with each batch in order, up to the first false.
  static constexpr size_t kMaxBatchPoints = 12 * 12;
  static bool InBatches(std::vector<KXScanPoint> points, const std::function<bool(std::vector<KXScanPoint>)>& step);

  const std::vector<KXScanPoint>& Slots() const { return slotArray; }
  int LastEndSlot() const { return lastEndSlot; }
  int IdleCount() const { return idleCount; }

 private:
  ScanFilter& scanFilter;
  std::vector<KXScanPoint> slotArray;
  int lastEndSlot = 0;
  float lastEndAngle = 0.0f;
  int idleCount = 0;
};
