// What the surface layer costs and what drawing the coordinates ahead saves: SmearStep over a
// 1920x1080 in-memory image, against the step that takes its samples in order through the same
// surface, and against that in-order arithmetic written directly on the buffer. Prints
// nanoseconds per sample and the ratios. Steps run back to back here, so the image stays in
// the larger caches; bench/frame-bench.sh measures the step on a cold cache.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <vector>

#include "effect/effect.h"
#include "tests/in_order_step.h"

namespace {

const int32_t kWidth = 1920;
const int32_t kHeight = 1080;

uint32_t FixedClock() {
  return 12345;
}

std::vector<uint32_t> Desktop() {
  std::vector<uint32_t> pixels(static_cast<size_t>(kWidth) * kHeight);
  for (int32_t y = 0; y < kHeight; ++y)
    for (int32_t x = 0; x < kWidth; ++x)
      pixels[static_cast<size_t>(y) * kWidth + x] =
          static_cast<uint32_t>((x * 7) ^ (y * 13)) & 0xFFFFFF;
  return pixels;
}

// The step by hand: the same sampler, samples, averages and writes, with the bounds checks
// and colour order of the image spelled out in place.
void DirectStep(uint32_t *pixels, int32_t width, int32_t height) {
  auto read = [&](int32_t x, int32_t y) -> uint32_t {
    if (static_cast<uint32_t>(x) >= static_cast<uint32_t>(width) ||
        static_cast<uint32_t>(y) >= static_cast<uint32_t>(height))
      return 0;
    uint32_t c = pixels[y * width + x];
    return (c & 0xFF00u) | (c & 0xFFu) << 16 | (c >> 16 & 0xFFu);
  };
  auto write = [&](int32_t x, int32_t y, uint32_t c) {
    if (static_cast<uint32_t>(x) < static_cast<uint32_t>(width) &&
        static_cast<uint32_t>(y) < static_cast<uint32_t>(height))
      pixels[y * width + x] = (c & 0xFF00u) | (c & 0xFFu) << 16 | (c >> 16 & 0xFFu);
  };
  const bool lossy = gSettings.lossy == 1;
  const int32_t method = gSettings.method;
  for (int i = 0; i < kSamplesPerStep; ++i) {
    int32_t x = static_cast<int32_t>(RandomBelow(static_cast<uint32_t>(width), FixedClock));
    int32_t y = static_cast<int32_t>(RandomBelow(static_cast<uint32_t>(height), FixedClock));
    uint32_t c;
    if (method == SmearMelting) {
      uint32_t above = read(x, y - 1);
      c = AverageOfFive(above, above, read(x - 1, y), read(x + 1, y), read(x, y), lossy);
    } else {
      c = AverageOfFive(read(x, y), read(x + 1, y), read(x, y - 1), read(x - 1, y), read(x, y + 1),
                        lossy);
    }
    write(x, y, c);
    if (method == SmearFaster) {
      write(x + 1, y, c);
      write(x, y - 1, c);
      write(x - 1, y, c);
      write(x, y + 1, c);
    }
  }
}

std::map<int, double> gSurfaceNs, gInOrderNs, gDirectNs;

void BM_SurfaceStep(benchmark::State &state) {
  std::vector<uint32_t> pixels = Desktop();
  ImageSurface surface{pixels.data(), kWidth, kHeight};
  gSettings = {static_cast<int32_t>(state.range(0)), 0};
  gEffectState.seed = 1;
  for (auto _ : state) {
    SmearStep(surface, 0, 0, kWidth, kHeight, FixedClock);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kSamplesPerStep);
}

void BM_InOrderStep(benchmark::State &state) {
  std::vector<uint32_t> pixels = Desktop();
  ImageSurface surface{pixels.data(), kWidth, kHeight};
  gSettings = {static_cast<int32_t>(state.range(0)), 0};
  gEffectState.seed = 1;
  for (auto _ : state) {
    InOrderSmearStep(surface, 0, 0, kWidth, kHeight, FixedClock);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kSamplesPerStep);
}

void BM_DirectStep(benchmark::State &state) {
  std::vector<uint32_t> pixels = Desktop();
  gSettings = {static_cast<int32_t>(state.range(0)), 0};
  gEffectState.seed = 1;
  for (auto _ : state) {
    DirectStep(pixels.data(), kWidth, kHeight);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kSamplesPerStep);
}

BENCHMARK(BM_SurfaceStep)->DenseRange(1, 3)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_InOrderStep)->DenseRange(1, 3)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_DirectStep)->DenseRange(1, 3)->Repetitions(5)->ReportAggregatesOnly(true);

// Collects the median time per sample of each run for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) {
      if (run.aggregate_name != "median") continue;
      std::string name = run.run_name.function_name;
      int method = std::stoi(run.run_name.args);
      double ns = run.GetAdjustedRealTime() / kSamplesPerStep;  // time unit is ns
      (name == "BM_SurfaceStep"   ? gSurfaceNs
       : name == "BM_InOrderStep" ? gInOrderNs
                                  : gDirectNs)[method] = ns;
    }
  }
};

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  static const char *names[] = {"", "Gradual", "Faster", "Melting"};
  std::printf("\nSmearStep on a %dx%d image, median ns per sample:\n", kWidth, kHeight);
  std::printf("%-8s %10s %10s %10s %10s %10s\n", "method", "ahead", "in-order", "direct",
              "ahead/in", "in/direct");
  for (int method = 1; method <= 3; ++method) {
    if (!gSurfaceNs.count(method) || !gInOrderNs.count(method) || !gDirectNs.count(method))
      continue;
    std::printf("%-8s %10.2f %10.2f %10.2f %10.3f %10.3f\n", names[method], gSurfaceNs[method],
                gInOrderNs[method], gDirectNs[method], gSurfaceNs[method] / gInOrderNs[method],
                gInOrderNs[method] / gDirectNs[method]);
  }
  benchmark::Shutdown();
  return 0;
}
