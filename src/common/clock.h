#pragma once
// The one source of time for the core. Every time-out, pause and settle wait
// goes through a Clock, so tests can run long waits on a fake clock.
#include <chrono>
#include <cstdint>

namespace tarvik {

// Something a sleeper may be woken by before its time is up, such as bytes
// arriving on a port. Wait blocks for at most realMs of real time.
class Wakeup {
 public:
  virtual ~Wakeup() = default;
  // True when woken before realMs passed.
  virtual bool Wait(std::uint32_t realMs) = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  // Monotonic milliseconds; never jumps with the wall clock.
  virtual std::uint64_t NowMs() = 0;
  virtual void SleepMs(std::uint32_t ms) = 0;
  // Sleeps up to ms, ending early when wake fires; true when it did. A clock
  // whose time is not real decides how much real time the wake may take.
  virtual bool SleepMs(std::uint32_t ms, Wakeup& wake) = 0;
  // Local wall-clock time, for timestamps and elapsed times shown to the user.
  virtual std::chrono::system_clock::time_point WallNow() = 0;

  // 32-bit millisecond counter; differences are taken modulo 2^32 so a wrap
  // does not disturb a wait.
  std::uint32_t TickMs() { return static_cast<std::uint32_t>(NowMs()); }
};

// The process clock: steady_clock, sleep_for and system_clock.
Clock& SystemClock();

// Whole milliseconds from start to now on a 32-bit tick counter.
inline std::uint32_t TickDiff(std::uint32_t now, std::uint32_t start) { return now - start; }

}  // namespace tarvik
