// Loading the shipped catalogue, as the program does once at start.
#include <benchmark/benchmark.h>

#include "firmware/catalogue.h"

namespace {

void BM_LoadCatalogue(benchmark::State& state) {
  std::size_t lines = 0;
  for (auto _ : state) {
    tarvik::FirmwareCatalogue catalogue;
    catalogue.LoadCatalogue();
    lines = 0;
    for (const auto& image : catalogue.ImageLines()) lines += image.size();
    benchmark::DoNotOptimize(lines);
  }
  state.counters["lines"] = static_cast<double>(lines);
}
BENCHMARK(BM_LoadCatalogue)->Unit(benchmark::kMillisecond);

}  // namespace
