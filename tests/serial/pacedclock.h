#pragma once
// Fake time that passes much faster than real time while someone sleeps on
// it: long reply waits cost little, yet a peer on a real pseudo-terminal
// still gets real time to answer within them.
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
  std::chrono::system_clock::time_point WallNow() override {
    return std::chrono::system_clock::time_point(std::chrono::milliseconds(now_.load()));
  }

 private:
  std::atomic<std::uint64_t> now_{1'000'000};
};

}  // namespace tarvik::test
