#include <benchmark/benchmark.h>

#include "sim/SimCommand.h"
#include "sim/SimPacket.h"
#include "sim/SimScene.h"

namespace {

// One packet: twelve rays cast into the scene, noise, layout and CRC. At the
// highest line rate the simulator needs about a thousand of these a second.
void BM_MakeAndEncodePacket(benchmark::State& state) {
  sim::SimScene scene;
  sim::ScanGenerator gen(scene, 10.0, 2666667, 1);
  uint64_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(sim::EncodePacket(gen.MakePacket(i++)));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MakeAndEncodePacket);

void BM_CommandParserJunk(benchmark::State& state) {
  std::vector<uint8_t> junk(4096);
  for (size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<uint8_t>(i * 37);
  sim::CommandParser p;
  for (auto _ : state) benchmark::DoNotOptimize(p.Feed(junk.data(), junk.size()));
  state.SetBytesProcessed(state.iterations() * junk.size());
}
BENCHMARK(BM_CommandParserJunk);

}  // namespace
