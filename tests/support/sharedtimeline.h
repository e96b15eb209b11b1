#pragma once
// The tool's time and a simulated device's on one timeline, as on a bench
// where both live in the same world. Each has a clock of its own: the tool's
// runs fast like PacedClock while the tool sleeps; the device's reads the
// tool's, and a pause of the device (a slow answer, a write's latency) ends
// when the tool's time has gone on by as much. The tool's time never passes
// the end of a pause until the device has come out of it, however late a
// busy machine runs the device's thread: an answer the device gives inside a
// time-out arrives inside it, one it gives after the time-out after it.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>
#include <set>
#include <thread>

#include "common/clock.h"

namespace tarvik::test {

class SharedTimeline {
 public:
  // Fake milliseconds per real one while the tool sleeps: slow enough that a
  // command the kernel is slow to pass on to the device on a busy machine
  // (the tool's time runs while it is on its way) still arrives well inside
  // a time-out (3500 ms of a write: 0.7 s of real time).
  static constexpr std::uint32_t kPace = 5;
  // A step of the tool's time, so that a pause the device begins meanwhile
  // is seen before the time runs past its end.
  static constexpr std::uint32_t kStepMs = kPace;
  // Real time the tool's clock waits at most for a device to come out of a
  // pause: only a device thread that never runs again takes that long.
  static constexpr auto kLongestHold = std::chrono::seconds(30);

  class ToolClock final : public Clock {
   public:
    explicit ToolClock(SharedTimeline& line) : line_(line) {}
    std::uint64_t NowMs() override { return line_.Now(); }
    void SleepMs(std::uint32_t ms) override {
      const std::uint64_t target = line_.Now() + ms;
      while (line_.Now() < target) line_.Step(target, nullptr);
    }
    bool SleepMs(std::uint32_t ms, Wakeup& wake) override {
      const std::uint64_t target = line_.Now() + ms;
      while (line_.Now() < target) {
        if (line_.Step(target, &wake)) return true;
      }
      return false;
    }
    std::chrono::system_clock::time_point WallNow() override {
      return std::chrono::system_clock::time_point(std::chrono::milliseconds(line_.Now()));
    }

   private:
    SharedTimeline& line_;
  };

  class DeviceClock final : public Clock {
   public:
    explicit DeviceClock(SharedTimeline& line) : line_(line) {}
    std::uint64_t NowMs() override { return line_.Now(); }
    void SleepMs(std::uint32_t ms) override { line_.Pause(ms); }
    bool SleepMs(std::uint32_t ms, Wakeup&) override {
      line_.Pause(ms);
      return false;
    }
    std::chrono::system_clock::time_point WallNow() override {
      return std::chrono::system_clock::time_point(std::chrono::milliseconds(line_.Now()));
    }

   private:
    SharedTimeline& line_;
  };

  ToolClock& Tool() { return tool_; }
  DeviceClock& Device() { return device_; }

  // What tells that the device is at work: a command waiting to be read, or
  // one being handled. Set before the tool starts.
  void WatchDevice(std::function<bool()> working) { working_ = std::move(working); }

  // The tool is done: the device's pauses end at once from now on, so a
  // device left waiting can be stopped.
  void Free() {
    {
      const std::lock_guard lock(mutex_);
      free_ = true;
    }
    changed_.notify_all();
  }

 private:
  // At work and not in a pause.
  bool Working() {
    {
      const std::lock_guard lock(mutex_);
      if (free_ || !pauses_.empty()) return false;
    }
    return working_();
  }

  std::uint64_t Now() {
    const std::lock_guard lock(mutex_);
    return now_;
  }

  // The device waits until the tool's time reaches the pause's end, holding
  // the tool's time there meanwhile.
  void Pause(std::uint32_t ms) {
    std::unique_lock lock(mutex_);
    const auto end = pauses_.insert(now_ + ms);
    changed_.wait(lock, [&] { return free_ || now_ >= *end; });
    pauses_.erase(end);
    lock.unlock();
    changed_.notify_all();
  }

  // One step of the tool's time towards target, never past a pause's end
  // while the pause lasts; true when woken first.
  bool Step(std::uint64_t target, Wakeup* wake) {
    // A device at work outside a pause (a command not yet read, an answer
    // being written) takes no time of the line's: the tool's time stands.
    if (working_) {
      const auto since = std::chrono::steady_clock::now();
      while (Working() && std::chrono::steady_clock::now() - since < kLongestHold) {
        if (wake != nullptr && wake->Wait(1)) return true;
        if (wake == nullptr) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
    std::unique_lock lock(mutex_);
    const std::uint64_t held = pauses_.empty() ? std::numeric_limits<std::uint64_t>::max() : *pauses_.begin();
    if (held <= now_) {
      // At a pause's end: the device comes out of it first.
      const std::uint64_t at = now_;
      changed_.wait_for(lock, kLongestHold,
                        [&] { return pauses_.empty() || *pauses_.begin() > at || now_ != at; });
      if (!pauses_.empty() && *pauses_.begin() <= at && now_ == at) ++now_;
      return false;
    }
    const std::uint64_t next = std::min({target, held, now_ + kStepMs});
    const std::uint64_t from = now_;
    lock.unlock();
    const auto real = std::chrono::microseconds((next - from) * 1000 / kPace);
    bool woken = false;
    if (wake != nullptr) {
      woken = wake->Wait(static_cast<std::uint32_t>(std::max<std::int64_t>(1, real.count() / 1000)));
    } else {
      std::this_thread::sleep_for(real);
    }
    lock.lock();
    now_ = std::max(now_, woken ? from + 1 : next);
    lock.unlock();
    changed_.notify_all();
    return woken;
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t now_ = 1'000'000;
  std::multiset<std::uint64_t> pauses_;
  bool free_ = false;
  std::function<bool()> working_;
  ToolClock tool_{*this};
  DeviceClock device_{*this};
};

}  // namespace tarvik::test
