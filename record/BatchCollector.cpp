#include "record/BatchCollector.h"

#include <chrono>
#include <utility>

BatchCollector::BatchCollector(KXProtocol& p) : protocol(p) {}

BatchCollector::~BatchCollector() {
  running = false;
  if (thread.joinable()) thread.join();
}

void BatchCollector::Start() {
  running = true;
  thread = std::thread([this] {
    while (running) {
      Poll();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
}

void BatchCollector::Stop() {
  running = false;
  if (thread.joinable()) thread.join();
  Poll();
}

void BatchCollector::Poll() {
  std::vector<KXScanPoint> batch = protocol.TakeScanPoints();
  if (batch.empty()) return;
  std::lock_guard<std::mutex> lock(mutex);
  batches.push_back(std::move(batch));
}

void BatchCollector::TakeBatches(std::deque<std::vector<KXScanPoint>>& out) {
  std::lock_guard<std::mutex> lock(mutex);
  while (!batches.empty()) {
    out.push_back(std::move(batches.front()));
    batches.pop_front();
  }
}
