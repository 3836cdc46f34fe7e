#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

// Hands received chunks from the serial I/O thread to the thread that writes
// them to a raw file (the recorder's, the window's worker); the I/O thread
// never waits on the disk.
class RawSpool {
 public:
  void Append(const uint8_t* data, uint32_t size) {
    std::lock_guard<std::mutex> lock(mutex);
    bytes.insert(bytes.end(), data, data + size);
  }
  // Swaps the collected bytes into `out` (whose old content is discarded), so
  // that the two buffers keep their capacity and steady state needs no allocation.
  void TakeInto(std::vector<uint8_t>& out) {
    out.clear();
    std::lock_guard<std::mutex> lock(mutex);
    out.swap(bytes);
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex);
    bytes.clear();
  }

 private:
  std::mutex mutex;
  std::vector<uint8_t> bytes;
};
