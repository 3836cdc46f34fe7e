#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

enum class SimCommand { Start, Stop };

// Finds the start and stop frames in the bytes the host writes. Frames may
// arrive split over any number of reads and with junk before, between and
// after them; a frame counts only when its five bytes arrive in a row.
class CommandParser {
 public:
  std::vector<SimCommand> Feed(const uint8_t* data, size_t size);

  // Bytes that were not part of a recognised frame.
  uint64_t JunkBytes() const { return junk_; }

 private:
  uint8_t window_[5] = {};
  size_t filled_ = 0;  // bytes held in window_, which holds the last bytes seen
  uint64_t junk_ = 0;
};

}  // namespace sim
