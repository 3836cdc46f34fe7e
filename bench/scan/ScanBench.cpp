// Costs of the scan processing against its budget: everything done for one
// revolution must fit well inside 100 ms (10 revolutions per second).
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "scan/FrameAssembler.h"
#include "scan/ScanFilter.h"

namespace {

// A sweep of `count` points with distances and intensities like a room with
// some weak noise.
std::vector<KXScanPoint> Sweep(size_t count, float step, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> noise(0.0f, 15.0f);
  std::uniform_int_distribution<int> intensity(10, 200);
  std::vector<KXScanPoint> points;
  float angle = 0.0f;
  for (size_t i = 0; i < count; ++i) {
    const float wall = 800.0f + 600.0f * ((i / 40) % 3);
    points.push_back(
        KXScanPoint{angle, static_cast<uint16_t>(wall + noise(rng)), static_cast<uint8_t>(intensity(rng))});
    angle += step;
    if (angle >= 360.0f) angle -= 360.0f;
  }
  return points;
}

std::vector<KXScanPoint> FullFrame() {
  ScanFilter filter;
  FrameAssembler assembler(filter);
  ScanSettings settings;
  const std::vector<KXScanPoint> points = Sweep(1200, 0.6f, 1);
  for (size_t i = 0; i < points.size(); i += 12) {
    assembler.Step(std::vector<KXScanPoint>(points.begin() + i, points.begin() + i + 12), settings, false);
  }
  return assembler.Slots();
}

ScanSettings AllFiltersOn() {
  ScanSettings s;
  s.enableAngleCalib = true;
  s.enableAlgoFilter = true;
  s.enableDistCorrect = true;
  s.enableAngleEdgeFilter = true;
  s.enableWaterNoiseFilter = true;
  return s;
}

void BM_FilterPoint(benchmark::State& state) {
  ScanFilter filter;
  const std::vector<KXScanPoint> points = Sweep(4096, 0.6f, 2);
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(filter.FilterPoint(points[i]));
    i = (i + 1) & 4095;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FilterPoint);

void BM_FilterWaterNoise(benchmark::State& state) {
  ScanFilter filter;
  const std::vector<KXScanPoint> frame = FullFrame();
  for (auto _ : state) benchmark::DoNotOptimize(filter.FilterWaterNoise(frame, 120.0, 300, 1500, 40));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FilterWaterNoise);

void BM_FilterAngleEdge(benchmark::State& state) {
  const std::vector<KXScanPoint> frame = FullFrame();
  std::vector<KXScanPoint> work;
  for (auto _ : state) {
    work = frame;
    ScanFilter::FilterAngleEdge(work, 1.5f);
    benchmark::DoNotOptimize(work.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FilterAngleEdge);

// One poll with one packet of 12 points and every correction and filter on,
// averaged over whole revolutions (one in 50 steps publishes a frame).
void BM_AssemblyStep12(benchmark::State& state) {
  ScanFilter filter;
  FrameAssembler assembler(filter);
  const ScanSettings settings = AllFiltersOn();
  const std::vector<KXScanPoint> points = Sweep(600 * 4, 0.6f, 3);
  std::vector<std::vector<KXScanPoint>> batches;
  for (size_t i = 0; i < points.size(); i += 12) batches.emplace_back(points.begin() + i, points.begin() + i + 12);
  size_t b = 0;
  int64_t frames = 0;
  for (auto _ : state) {
    const auto result = assembler.Step(batches[b], settings, true);
    frames += result.frameReady;
    benchmark::DoNotOptimize(result.frame.data());
    b = (b + 1) % batches.size();
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["frames"] = static_cast<double>(frames);
}
BENCHMARK(BM_AssemblyStep12);

// The worst single poll: the 12-point batch that completes a revolution and
// publishes a frame through both frame filters.
void BM_AssemblyStepPublishing(benchmark::State& state) {
  ScanFilter filter;
  FrameAssembler assembler(filter);
  const ScanSettings settings = AllFiltersOn();
  const std::vector<KXScanPoint> points = Sweep(600, 0.6f, 4);
  const std::vector<KXScanPoint> late(points.begin() + 576, points.begin() + 588);  // about 345 to 352 degrees
  const std::vector<KXScanPoint> early(points.begin() + 12, points.begin() + 24);   // about 7 to 14 degrees
  for (size_t i = 0; i < points.size(); i += 12) {
    assembler.Step(std::vector<KXScanPoint>(points.begin() + i, points.begin() + i + 12), settings, false);
  }
  for (auto _ : state) {
    state.PauseTiming();
    assembler.Step(late, settings, false);
    state.ResumeTiming();
    const auto result = assembler.Step(early, settings, true);
    if (!result.frameReady) state.SkipWithError("no frame published");
    benchmark::DoNotOptimize(result.frame.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AssemblyStepPublishing);

}  // namespace

BENCHMARK_MAIN();
