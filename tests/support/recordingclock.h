#pragma once
// A clock for the procedure under test alone (its port keeps a clock of its
// own): every pause passes at once and is written down, so a test can pin
// the pauses a procedure makes, in order, as a device needs them.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "common/clock.h"

namespace tarvik::test {

class RecordingClock final : public Clock {
 public:
  std::uint64_t NowMs() override { return now_.load(); }
  void SleepMs(std::uint32_t ms) override {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      sleeps_.push_back(ms);
    }
    now_.fetch_add(ms);
  }
  bool SleepMs(std::uint32_t ms, Wakeup& wake) override {
    if (wake.Wait(0)) return true;
    SleepMs(ms);
    return false;
  }
  std::chrono::system_clock::time_point WallNow() override {
    return std::chrono::system_clock::time_point(std::chrono::milliseconds(now_.load()));
  }

  std::vector<std::uint32_t> Sleeps() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return sleeps_;
  }
  // The sleeps with runs of the same length folded: "40 x4, 150 x10, 1".
  std::string Pauses() const {
    const std::vector<std::uint32_t> sleeps = Sleeps();
    std::string text;
    for (std::size_t i = 0; i < sleeps.size();) {
      std::size_t run = 1;
      while (i + run < sleeps.size() && sleeps[i + run] == sleeps[i]) ++run;
      if (!text.empty()) text += ", ";
      text += std::to_string(sleeps[i]);
      if (run > 1) text += " x" + std::to_string(run);
      i += run;
    }
    return text;
  }

 private:
  std::atomic<std::uint64_t> now_{1'000'000};
  mutable std::mutex mutex_;
  std::vector<std::uint32_t> sleeps_;
};

}  // namespace tarvik::test
