// Feeds the receive handler with the input cut into chunks whose sizes come
// from the input itself, draining the point queue now and then as the frame
// worker would, and checks the invariants the rest of the program relies on.
//
// Input layout: byte 0 picks the response type the receiver accepts (0 keeps
// 0xB0); byte 1 is a signed angle offset in half degrees;
// then records of a two-byte little-endian control word followed by the
// chunk: size = 1 + (word & 0x1FF), and bit 9 drains the queue after it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "protocol/KXProtocol.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

void Drain(KXProtocol& protocol, uint64_t& drained) {
  const auto points = protocol.TakeScanPoints();
  Check(points.size() <= 372, "queue holds at most 372 points");
  Check(points.size() % 12 == 0, "queue holds whole packets");
  drained += points.size();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The receiver reports CRC errors and overflows on standard output.
  if (!std::freopen("/dev/null", "w", stdout)) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  KXProtocol protocol;
  if (data[0] != 0) protocol.SetExpectedResponseType(data[0]);
  protocol.SetAngleOffset(static_cast<int8_t>(data[1]) * 0.5f);
  size_t at = 2;
  uint64_t fed = 0;
  uint64_t drained = 0;
  while (at + 2 < size) {
    const unsigned word = data[at] | (data[at + 1] << 8);
    at += 2;
    size_t chunk = 1 + (word & 0x1FF);
    if (chunk > size - at) chunk = size - at;
    protocol.OnDataReceived(data + at, static_cast<uint32_t>(chunk));
    at += chunk;
    fed += chunk;
    if (word & 0x200) Drain(protocol, drained);
  }
  Drain(protocol, drained);

  const KXLinkStats stats = protocol.GetLinkStats();
  Check(stats.bytesReceived == fed, "every byte is counted");
  Check(stats.overflowChunks == 0, "chunks of at most 512 bytes never overflow");
  Check(stats.packets * 12 >= drained, "no point without a decoded packet");
  Check(stats.packets * 47 + stats.crcErrors * 47 + stats.skippedBytes <= fed, "no byte consumed twice");
  return 0;
}
