#include "common/uisync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

namespace tarvik {
namespace {

TEST(UiStepQueue, StepFromTheUiThreadRunsAtOnce) {
  UiStepQueue ui;
  int ran = 0;
  ui.RunSync([&] { ++ran; });
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(ui.RunPending(), 0u);
}

TEST(UiStepQueue, WorkerWaitsUntilTheUiThreadRanItsStep) {
  UiStepQueue ui;
  std::atomic<bool> returned{false};
  std::thread::id ranOn;
  std::thread worker([&] {
    ui.RunSync([&] { ranOn = std::this_thread::get_id(); });
    returned = true;
  });
  // Nothing runs the step yet: the worker must still be waiting.
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(returned.load());
  ui.WaitServicing([&] { return returned.load(); });
  worker.join();
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

// The UI thread waits for workers to end while they hand it steps: the wait
// must serve them, in each worker's order, or it would never end.
TEST(UiStepQueue, WaitingUiThreadServesStepsOfSeveralWorkers) {
  UiStepQueue ui;
  constexpr int kWorkers = 4;
  constexpr int kSteps = 200;
  std::vector<std::vector<int>> seen(kWorkers);
  std::atomic<int> finished{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&, w] {
      for (int i = 0; i < kSteps; ++i) ui.RunSync([&, w, i] { seen[w].push_back(i); });
      finished.fetch_add(1);
      ui.Notify();
    });
  }
  ui.WaitServicing([&] { return finished.load() == kWorkers; });
  for (auto& t : workers) t.join();
  for (int w = 0; w < kWorkers; ++w) {
    ASSERT_EQ(seen[w].size(), static_cast<std::size_t>(kSteps));
    for (int i = 0; i < kSteps; ++i) EXPECT_EQ(seen[w][i], i);
  }
}

TEST(UiStepQueue, ErrorOfAStepReachesTheWorker) {
  UiStepQueue ui;
  std::atomic<bool> caught{false};
  std::atomic<bool> ended{false};
  std::thread worker([&] {
    try {
      ui.RunSync([] { throw std::runtime_error("step failed"); });
    } catch (const std::runtime_error& e) {
      caught = std::string(e.what()) == "step failed";
    }
    ended = true;
    ui.Notify();
  });
  // Until the worker is past the step, whatever became of its error.
  ui.WaitServicing([&] { return ended.load(); });
  worker.join();
  EXPECT_TRUE(caught.load());
}

TEST(UiStepQueue, WakeHookFiresForEveryHandedOverStep) {
  UiStepQueue ui;
  std::atomic<int> wakes{0};
  ui.SetWakeHook([&] { wakes.fetch_add(1); });
  std::atomic<bool> done{false};
  std::thread worker([&] {
    ui.RunSync([] {});
    ui.RunSync([] {});
    done = true;
  });
  ui.WaitServicing([&] { return done.load(); });
  worker.join();
  EXPECT_EQ(wakes.load(), 2);
}

}  // namespace
}  // namespace tarvik
