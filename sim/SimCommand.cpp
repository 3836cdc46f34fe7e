#include "sim/SimCommand.h"

#include <cstring>

#include "protocol/KXPacket.h"

namespace sim {

std::vector<SimCommand> CommandParser::Feed(const uint8_t* data, size_t size) {
  std::vector<SimCommand> found;
  for (size_t i = 0; i < size; ++i) {
    if (filled_ == sizeof window_) {
      std::memmove(window_, window_ + 1, sizeof window_ - 1);
      --filled_;
      ++junk_;
    }
    window_[filled_++] = data[i];
    if (filled_ < sizeof window_) continue;
    if (std::memcmp(window_, kx::kCmdEnable, sizeof window_) == 0) {
      found.push_back(SimCommand::Start);
      filled_ = 0;
    } else if (std::memcmp(window_, kx::kCmdDisable, sizeof window_) == 0) {
      found.push_back(SimCommand::Stop);
      filled_ = 0;
    }
  }
  return found;
}

}  // namespace sim
