#pragma once

#include "protocol/KXScanPoint.h"

// Where one revolution ends and the next begins in the stream of filed
// points: between two of them where the slot steps back by half a turn or
// more, that is where the angle passed 0 degrees. This is the assembler's rule
// for a completed revolution applied point by point, so the turns do not
// depend on how the points were batched. The recorder's rows, the
// per-revolution statistics and the library's revolutions all split here.
class RevolutionSplitter {
 public:
  // Takes the next filed point; true when it is the first of a new revolution.
  bool Begins(const KXScanPoint& point);
  // Passes of 0 degrees seen so far: revolution n (from 1) runs from pass n to
  // pass n + 1; the points before the first pass are the partial first turn.
  long Passes() const { return passes; }

 private:
  int lastSlot = -1;  // slot of the previous point
  long passes = 0;
};
