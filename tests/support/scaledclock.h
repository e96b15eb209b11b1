#pragma once
// Time that runs a fixed number of times faster than real time for every
// reader alike: the tool and a simulated device on it agree on when a
// time-out ends and when a slow answer comes, to within real scheduling,
// so a device can be made to answer just inside or just outside a time-out.
// (A paced clock moves only with its own sleeps, so two sleepers on it do
// not agree.)
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>

#include "common/clock.h"

namespace tarvik::test {

class ScaledClock final : public Clock {
 public:
  explicit ScaledClock(std::uint32_t scale) : scale_(std::max<std::uint32_t>(scale, 1)) {}

  std::uint64_t NowMs() override {
    const auto real =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - origin_)
            .count();
    return kStartMs + static_cast<std::uint64_t>(real) * scale_ / 1000;
  }
  void SleepMs(std::uint32_t ms) override { std::this_thread::sleep_for(Real(ms)); }
  bool SleepMs(std::uint32_t ms, Wakeup& wake) override {
    const auto real =
        std::chrono::duration_cast<std::chrono::milliseconds>(Real(ms) + std::chrono::microseconds(999));
    return wake.Wait(static_cast<std::uint32_t>(std::max<std::int64_t>(real.count(), 1)));
  }
  std::chrono::system_clock::time_point WallNow() override {
    return wallBase_ + std::chrono::milliseconds(NowMs());
  }

 private:
  static constexpr std::uint64_t kStartMs = 1'000'000;
  std::chrono::microseconds Real(std::uint32_t ms) const {
    return std::chrono::microseconds(std::uint64_t{ms} * 1000 / scale_);
  }

  const std::uint32_t scale_;
  const std::chrono::steady_clock::time_point origin_ = std::chrono::steady_clock::now();
  const std::chrono::system_clock::time_point wallBase_{
      std::chrono::sys_days{std::chrono::year{2015} / 12 / 8}};
};

}  // namespace tarvik::test
