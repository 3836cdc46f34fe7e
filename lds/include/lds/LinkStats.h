#pragma once

#include <cstdint>

namespace lds {

// The health of the link, counted from the sensor object's creation on (a
// reopen does not reset them). A bad cable shows as CRC errors and skipped
// bytes; a caller that falls behind, as dropped points or revolutions.
struct LinkStats {
  uint64_t bytesReceived = 0;       // every byte received
  uint64_t packets = 0;             // measurement packets decoded (12 points each)
  uint64_t crcErrors = 0;           // measurement packets with a wrong check sum, left out
  uint64_t skippedBytes = 0;        // bytes between packets that belong to none
  uint64_t overflowChunks = 0;      // blocks of bytes lost because the receiver was full
  uint64_t acks = 0;                // acknowledgements of commands
  uint64_t droppedPoints = 0;       // decoded points not taken in time (never in a revolution)
  uint64_t droppedRevolutions = 0;  // whole revolutions the caller did not take in time
};

}  // namespace lds
