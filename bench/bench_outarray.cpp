// Push + pop throughput of the output queue with 1 and 4 producer threads
// against one consumer.
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>
#include <vector>

#include "outqueue/outarray.h"

namespace {

using tarvik::TOutArray;
using tarvik::TOutElement;

void BM_PushPop(benchmark::State& state) {
  const int producers = static_cast<int>(state.range(0));
  constexpr int kPerProducer = 50000;
  for (auto _ : state) {
    TOutArray q;
    std::atomic<int> running{producers};
    std::vector<std::thread> threads;
    for (int p = 0; p < producers; ++p) {
      threads.emplace_back([&] {
        for (int i = 0; i < kPerProducer; ++i) q.PushMessage("x");
        running.fetch_sub(1);
      });
    }
    long popped = 0;
    TOutElement* e = nullptr;
    while (running.load() > 0 || q.PeekKind() != 0) {
      if (q.Pop(e) != 0) ++popped;
    }
    for (auto& t : threads) t.join();
    benchmark::DoNotOptimize(popped);
  }
  state.SetItemsProcessed(state.iterations() * producers * kPerProducer);
}
BENCHMARK(BM_PushPop)->Arg(1)->Arg(4)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
