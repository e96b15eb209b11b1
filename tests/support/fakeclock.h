#pragma once
// A clock for tests: sleeping advances time at once, so a 15 s wait costs
// nothing. Thread-safe, so a worker may sleep on it while the test reads it.
#include <atomic>
#include <chrono>

#include "common/clock.h"

namespace tarvik::test {

class FakeClock final : public Clock {
 public:
  explicit FakeClock(std::uint64_t startMs = 1'000'000) : now_(startMs) {}
  std::uint64_t NowMs() override { return now_.load(); }
  void SleepMs(std::uint32_t ms) override {
    now_.fetch_add(ms);
    sleeps_.fetch_add(1);
  }
  // What is already there wakes at once and costs no time; otherwise the
  // whole time passes without waiting.
  bool SleepMs(std::uint32_t ms, Wakeup& wake) override {
    sleeps_.fetch_add(1);
    if (wake.Wait(0)) return true;
    now_.fetch_add(ms);
    return false;
  }
  std::chrono::system_clock::time_point WallNow() override {
    return wallBase_ + std::chrono::milliseconds(now_.load());
  }
  void Advance(std::uint64_t ms) { now_.fetch_add(ms); }
  void Set(std::uint64_t ms) { now_.store(ms); }
  std::uint64_t Sleeps() const { return sleeps_.load(); }

 private:
  std::atomic<std::uint64_t> now_;
  std::atomic<std::uint64_t> sleeps_{0};
  std::chrono::system_clock::time_point wallBase_{std::chrono::sys_days{std::chrono::year{2015} / 12 / 8}};
};

}  // namespace tarvik::test
