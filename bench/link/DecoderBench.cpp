// Receive-path throughput: the decoder over a long stream of valid packets fed
// in 512-byte chunks (the largest read the serial port delivers), drained as
// the frame worker drains it, next to the packet CRC-8 alone over the same
// bytes. The line rate at 460800 baud is 46080 bytes/s.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "protocol/KXPacket.h"
#include "protocol/KXProtocol.h"

namespace {

constexpr size_t kChunk = 512;
constexpr int kPackets = 8192;

std::vector<uint8_t> MakeStream() {
  std::vector<uint8_t> stream;
  stream.reserve(kPackets * kx::kPacketSize);
  for (int i = 0; i < kPackets; ++i) {
    uint8_t p[kx::kPacketSize] = {};
    p[0] = kx::kPacketHeader;
    p[1] = kx::kPacketVerLen;
    const uint16_t start = static_cast<uint16_t>((i * 1100) % 36000);
    kx::WriteU16(p + kx::kOffSpeed, 3600);
    kx::WriteU16(p + kx::kOffStartAngle, start);
    for (int k = 0; k < kx::kPointsPerPacket; ++k) {
      kx::WriteU16(p + kx::kOffPoints + 3 * k, static_cast<uint16_t>(300 + (i * 7 + k * 13) % 8000));
      p[kx::kOffPoints + 3 * k + 2] = static_cast<uint8_t>(i + k);
    }
    kx::WriteU16(p + kx::kOffEndAngle, static_cast<uint16_t>((start + 1000) % 36000));
    kx::WriteU16(p + kx::kOffTimestamp, static_cast<uint16_t>(i));
    p[kx::kOffCrc] = kx::Crc8(p, kx::kPacketSize - 1);
    stream.insert(stream.end(), p, p + kx::kPacketSize);
  }
  return stream;
}

const std::vector<uint8_t>& Stream() {
  static const std::vector<uint8_t> stream = MakeStream();
  return stream;
}

// The worker polls every 10 ms; at line rate that is about one 512-byte read,
// so the queue is drained after every chunk.
void BM_Decoder(benchmark::State& state) {
  const auto& stream = Stream();
  KXProtocol protocol;
  size_t points = 0;
  for (auto _ : state) {
    for (size_t at = 0; at < stream.size(); at += kChunk) {
      const size_t n = std::min(kChunk, stream.size() - at);
      protocol.OnDataReceived(stream.data() + at, static_cast<uint32_t>(n));
      points += protocol.TakeScanPoints().size();
    }
  }
  benchmark::DoNotOptimize(points);
  if (protocol.GetLinkStats().crcErrors != 0) state.SkipWithError("stream did not decode cleanly");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(stream.size()));
  state.counters["packets/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kPackets, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Decoder)->Unit(benchmark::kMillisecond);

void BM_Crc8Only(benchmark::State& state) {
  const auto& stream = Stream();
  unsigned sum = 0;
  for (auto _ : state) {
    for (size_t at = 0; at < stream.size(); at += kChunk) {
      const size_t n = std::min(kChunk, stream.size() - at);
      sum += kx::Crc8(stream.data() + at, n);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(stream.size()));
  state.counters["packets/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kPackets, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Crc8Only)->Unit(benchmark::kMillisecond);

}  // namespace
