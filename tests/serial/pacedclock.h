#pragma once
// Fake time that passes much faster than real time while someone sleeps on
// it: long reply waits cost little, yet a peer on a real pseudo-terminal
// still gets real time to answer within them.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "common/clock.h"

namespace tarvik::test {

class PacedClock final : public Clock {
 public:
  static constexpr std::uint32_t kPace = 25;

  std::uint64_t NowMs() override { return now_.load(); }
  void SleepMs(std::uint32_t ms) override {
    now_.fetch_add(ms);
    std::this_thread::sleep_for(std::chrono::microseconds(std::uint64_t{ms} * 1000 / kPace));
  }
  // The real wait is the paced share of ms; a wake-up ends it early and the
  // fake time then moves on by what really passed, paced.
  bool SleepMs(std::uint32_t ms, Wakeup& wake) override {
    const auto start = std::chrono::steady_clock::now();
    const bool woken = wake.Wait(std::max<std::uint32_t>(1, ms / kPace));
    if (!woken) {
      now_.fetch_add(ms);
      return false;
    }
    const auto real =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    now_.fetch_add(std::min<std::uint64_t>(ms, static_cast<std::uint64_t>(real.count()) * kPace / 1000));
    return true;
  }
  std::chrono::system_clock::time_point WallNow() override {
    return std::chrono::system_clock::time_point(std::chrono::milliseconds(now_.load()));
  }

 private:
  std::atomic<std::uint64_t> now_{1'000'000};
};

}  // namespace tarvik::test
