#pragma once
// Time for a fault campaign. The tool and a simulated device in the same
// process read one clock whose pace follows who sleeps on it:
//  - a pause (the 40 ms after a write, the 1.5 s to 60 s settle waits, the
//    line-control pauses) passes about as fast as a thread can sleep;
//  - a wait for the device's answer is stretched so that a whole time-out
//    lasts about the same real time whatever its length (2.5 s, 3.5 s or
//    15 s): a device that answers at 80 % or 130 % of a time-out then misses
//    or makes it by a fifth of that real time, which a busy machine does not
//    blur;
//  - with nobody asleep it keeps real time, so a thread held up by the
//    machine costs real time, not time multiplied.
// Time never runs fast past the end of any sleep: a sleeper that wakes late
// finds the clock at its end plus the real time it overslept. Both sides
// measure one time, so they always agree on what came first.
//
// A device in another process keeps real time; for it the answer waits run
// at real time too (answerWaitRealMs 0) and only the pauses are quick.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <mutex>

#include "common/clock.h"

namespace tarvik::campaign {

struct ClockPace {
  // Real time a whole wait for an answer lasts; 0: answer waits keep real time.
  std::uint32_t answerWaitRealMs = 2000;
  // Real time a pause lasts at least, whatever its length.
  std::uint32_t pauseRealUs = 50;
  // The most clock milliseconds a real millisecond may be worth.
  double fastestRate = 20000;
};

class CampaignClock final : public Clock {
 public:
  explicit CampaignClock(ClockPace pace = {});

  std::uint64_t NowMs() override;
  void SleepMs(std::uint32_t ms) override;
  bool SleepMs(std::uint32_t ms, Wakeup& wake) override;
  std::chrono::system_clock::time_point WallNow() override;

 private:
  using RealTime = std::chrono::steady_clock::time_point;
  struct Sleeper {
    double endMs;
    double rate;
  };

  // Clock time at the given real time under the present sleepers; lock held.
  double At(RealTime real) const;
  // Real milliseconds until the clock reaches endMs if nothing changes; lock held.
  double RealUntil(double endMs, RealTime real) const;
  // Starts a new stretch at real time now; lock held.
  void Rebase(RealTime now);
  std::list<Sleeper>::iterator Enter(std::uint32_t ms, double rate);
  void Leave(std::list<Sleeper>::iterator sleeper);
  double RateFor(std::uint32_t ms, std::uint32_t realUs) const;

  const ClockPace pace_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::list<Sleeper> sleepers_;
  // The stretch since the sleepers last changed: its start, its pace and
  // the earliest end of a sleep, past which time keeps real time.
  double baseMs_ = 1'000'000;
  RealTime baseReal_ = std::chrono::steady_clock::now();
  double rate_ = 1;
  double capMs_ = 0;
  bool capped_ = false;
  const std::chrono::system_clock::time_point wallBase_{
      std::chrono::sys_days{std::chrono::year{2015} / 12 / 8}};
};

}  // namespace tarvik::campaign
