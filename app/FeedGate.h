#pragma once

#include <atomic>

// What the GUI thread asks of the worker before it feeds more points, and
// waits for: the worker's frame starts anew (a connect, a replay that starts
// decoding again), and whether the points fed from now on are a replay
// jump's warm-up, filed for the frames they build but written to no CSV
// file. The worker takes both at the top of each pass, before it takes
// points: points fed once Settled() holds are filed under the new word.
class FeedGate {
 public:
  // The GUI thread's side.
  void ResetFrame() { frameReset.store(true); }
  void SetWarmUp(bool on) { warmUp.store(on); }
  bool WarmUpAsked() const { return warmUp.load(); }
  bool Settled() const { return !frameReset.load() && warmUpSeen.load() == warmUp.load(); }

  // The worker's side.
  bool TakeFrameReset() { return frameReset.exchange(false); }
  bool WarmUp() {
    const bool on = warmUp.load();
    warmUpSeen.store(on);
    return on;
  }

 private:
  std::atomic<bool> frameReset{false};
  std::atomic<bool> warmUp{false};
  std::atomic<bool> warmUpSeen{false};
};
