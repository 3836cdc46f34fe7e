#include "scan/RevolutionSplitter.h"

#include "scan/FrameAssembler.h"

bool RevolutionSplitter::Begins(const KXScanPoint& point) {
  const int slot = FrameAssembler::FilingSlot(point.angle);
  const bool begins = lastSlot >= 0 && lastSlot - slot >= FrameAssembler::kSlotCount / 2;
  lastSlot = slot;
  if (begins) ++passes;
  return begins;
}
