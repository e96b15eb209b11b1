#include "cli/hurriedclock.h"

#include <algorithm>

namespace tarvik::cli {
namespace {

// The wait for an answer is cut into slices of this much real time, so a
// hurry that comes in the middle of a long one (the erase's 15 s) is seen
// soon. The clock it wraps still decides how long the whole wait lasts.
constexpr std::uint32_t kSliceMs = 50;

class HurriedWakeup final : public Wakeup {
 public:
  HurriedWakeup(Wakeup& wake, const std::atomic<bool>& hurried) : wake_(wake), hurried_(hurried) {}
  bool Wait(std::uint32_t realMs) override {
    std::uint32_t left = realMs;
    for (;;) {
      const std::uint32_t slice = std::min(left, kSliceMs);
      if (wake_.Wait(slice)) return true;
      left -= slice;
      if (left == 0) return false;
      // Told as a wake: the sleeper looks again, and its next sleep passes
      // at once.
      if (hurried_.load()) return true;
    }
  }

 private:
  Wakeup& wake_;
  const std::atomic<bool>& hurried_;
};

}  // namespace

void HurriedClock::SleepMs(std::uint32_t ms) {
  if (hurried_.load()) {
    ahead_.fetch_add(ms);
    return;
  }
  // The pauses are short (the longest is a settle wait's tick).
  base_.SleepMs(ms);
}

bool HurriedClock::SleepMs(std::uint32_t ms, Wakeup& wake) {
  if (hurried_.load()) {
    // What has come already is still taken; nothing more is waited for.
    const bool woken = wake.Wait(0);
    ahead_.fetch_add(ms);
    return woken;
  }
  HurriedWakeup sliced(wake, hurried_);
  return base_.SleepMs(ms, sliced);
}

}  // namespace tarvik::cli
