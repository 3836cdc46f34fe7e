#pragma once

#include <atomic>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "protocol/KXProtocol.h"

// Polls the protocol's point queue every 10 ms on a thread of its own, like
// the window's worker, and keeps each batch whole for the recording thread.
// The protocol's queue holds only about 30 packets, so a poll that waits for
// a slow disk would lose points; this thread never touches a file.
class BatchCollector {
 public:
  explicit BatchCollector(KXProtocol& protocol);
  ~BatchCollector();
  BatchCollector(const BatchCollector&) = delete;
  BatchCollector& operator=(const BatchCollector&) = delete;

  void Start();
  // Ends the thread, then takes what is still queued as one last batch.
  void Stop();
  // Moves every collected batch, oldest first, to the back of `out`.
  void TakeBatches(std::deque<std::vector<KXScanPoint>>& out);

 private:
  void Poll();

  KXProtocol& protocol;
  std::atomic<bool> running{false};
  std::thread thread;
  std::mutex mutex;
  std::deque<std::vector<KXScanPoint>> batches;
};
