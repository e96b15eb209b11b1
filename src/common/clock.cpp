#include "common/clock.h"

#include <thread>

namespace tarvik {
namespace {

class SteadyClock final : public Clock {
 public:
  std::uint64_t NowMs() override {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
  }
  void SleepMs(std::uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
  bool SleepMs(std::uint32_t ms, Wakeup& wake) override { return wake.Wait(ms); }
  std::chrono::system_clock::time_point WallNow() override { return std::chrono::system_clock::now(); }
};

}  // namespace

Clock& SystemClock() {
  static SteadyClock clock;
  return clock;
}

}  // namespace tarvik
