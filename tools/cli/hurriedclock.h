#pragma once
// One device's time in a run that may have to end at once: until Hurry() it
// is the clock it wraps; after it every pause and every wait for an answer
// passes at once, so an erase under way, a settle wait or a silent device no
// longer holds the worker, and its connection closes the ordinary way.
#include <atomic>
#include <cstdint>

#include "common/clock.h"

namespace tarvik::cli {

class HurriedClock final : public Clock {
 public:
  explicit HurriedClock(Clock& base) : base_(base) {}

  // From now on the time runs out at once; never undone.
  void Hurry() { hurried_.store(true); }
  bool Hurried() const { return hurried_.load(); }

  std::uint64_t NowMs() override { return base_.NowMs() + ahead_.load(); }
  void SleepMs(std::uint32_t ms) override;
  bool SleepMs(std::uint32_t ms, Wakeup& wake) override;
  std::chrono::system_clock::time_point WallNow() override { return base_.WallNow(); }

 private:
  Clock& base_;
  std::atomic<bool> hurried_{false};
  // How far the time has been moved on by sleeps that passed at once.
  std::atomic<std::uint64_t> ahead_{0};
};

}  // namespace tarvik::cli
