#pragma once
// Time for a procedure under test: its pauses (line control, the pause after
// a write, the settle waits) pass at once, while a wait for the device's
// answer gets real time up to a second, so that a busy machine never makes
// an answering device look silent. A silent device costs up to a second per
// time-out.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "common/clock.h"

namespace tarvik::test {

class QuickPauseClock final : public Clock {
 public:
  static constexpr std::uint32_t kRealAnswerMs = 1000;

  // realAnswerMs: how much real time a wait for an answer gets at most; more
  // where many devices share a busy machine.
  explicit QuickPauseClock(std::uint32_t realAnswerMs = kRealAnswerMs) : realAnswerMs_(realAnswerMs) {}

  std::uint64_t NowMs() override { return now_.load(); }
  void SleepMs(std::uint32_t ms) override {
    now_.fetch_add(ms);
    // An idle worker that polls on this clock must not take a whole core.
    std::this_thread::sleep_for(std::chrono::microseconds(20));
  }
  bool SleepMs(std::uint32_t ms, Wakeup& wake) override {
    const auto start = std::chrono::steady_clock::now();
    if (!wake.Wait(std::min(ms, realAnswerMs_))) {
      now_.fetch_add(ms);
      return false;
    }
    const auto real =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    now_.fetch_add(std::min<std::uint64_t>(ms, static_cast<std::uint64_t>(real.count())));
    return true;
  }
  std::chrono::system_clock::time_point WallNow() override {
    return std::chrono::system_clock::time_point(std::chrono::milliseconds(now_.load()));
  }

 private:
  const std::uint32_t realAnswerMs_;
  std::atomic<std::uint64_t> now_{1'000'000'000};
};

}  // namespace tarvik::test
