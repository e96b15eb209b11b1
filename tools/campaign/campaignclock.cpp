#include "campaign/campaignclock.h"

#include <algorithm>
#include <cmath>
#include <thread>

namespace tarvik::campaign {
namespace {

double RealMsBetween(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

// How long one look at a sleep may last, so that a change of pace is seen.
constexpr double kLongestSliceMs = 20;

}  // namespace

CampaignClock::CampaignClock(ClockPace pace) : pace_(pace) {}

double CampaignClock::At(RealTime real) const {
  const double elapsed = std::max(0.0, RealMsBetween(baseReal_, real));
  if (!capped_ || baseMs_ >= capMs_) return baseMs_ + elapsed;
  const double fast = baseMs_ + elapsed * rate_;
  if (fast <= capMs_) return fast;
  return capMs_ + (elapsed - (capMs_ - baseMs_) / rate_);
}

double CampaignClock::RealUntil(double endMs, RealTime real) const {
  const double now = At(real);
  if (endMs <= now) return 0;
  if (!capped_) return endMs - now;
  if (now >= capMs_) return endMs - now;
  if (endMs <= capMs_) return (endMs - now) / rate_;
  return (capMs_ - now) / rate_ + (endMs - capMs_);
}

void CampaignClock::Rebase(RealTime now) {
  baseMs_ = At(now);
  baseReal_ = now;
  capped_ = !sleepers_.empty();
  rate_ = 1;
  if (capped_) {
    rate_ = sleepers_.front().rate;
    capMs_ = sleepers_.front().endMs;
    for (const Sleeper& sleeper : sleepers_) {
      rate_ = std::min(rate_, sleeper.rate);
      capMs_ = std::min(capMs_, sleeper.endMs);
    }
  }
}

double CampaignClock::RateFor(std::uint32_t ms, std::uint32_t realUs) const {
  if (realUs == 0) return 1;
  return std::clamp(static_cast<double>(ms) * 1000.0 / static_cast<double>(realUs), 1.0, pace_.fastestRate);
}

std::list<CampaignClock::Sleeper>::iterator CampaignClock::Enter(std::uint32_t ms, double rate) {
  const RealTime now = std::chrono::steady_clock::now();
  Rebase(now);
  const auto sleeper = sleepers_.insert(sleepers_.end(), Sleeper{baseMs_ + ms, rate});
  Rebase(now);
  changed_.notify_all();
  return sleeper;
}

void CampaignClock::Leave(std::list<Sleeper>::iterator sleeper) {
  const RealTime now = std::chrono::steady_clock::now();
  Rebase(now);
  sleepers_.erase(sleeper);
  Rebase(now);
  changed_.notify_all();
}

std::uint64_t CampaignClock::NowMs() {
  std::lock_guard lock(mutex_);
  return static_cast<std::uint64_t>(std::floor(At(std::chrono::steady_clock::now())));
}

void CampaignClock::SleepMs(std::uint32_t ms) {
  std::unique_lock lock(mutex_);
  const auto sleeper = Enter(ms, RateFor(ms, pace_.pauseRealUs));
  const double end = sleeper->endMs;
  for (;;) {
    const double realMs = RealUntil(end, std::chrono::steady_clock::now());
    if (realMs <= 0) break;
    // Woken early by any change of the sleepers, to look again.
    changed_.wait_for(lock, std::chrono::duration<double, std::milli>(std::min(realMs, kLongestSliceMs)));
  }
  Leave(sleeper);
}

bool CampaignClock::SleepMs(std::uint32_t ms, Wakeup& wake) {
  const std::uint32_t realUs = pace_.answerWaitRealMs == 0 ? 0 : pace_.answerWaitRealMs * 1000;
  std::unique_lock lock(mutex_);
  const auto sleeper = Enter(ms, RateFor(ms, realUs));
  const double end = sleeper->endMs;
  bool woken = false;
  for (;;) {
    const double realMs = RealUntil(end, std::chrono::steady_clock::now());
    if (realMs <= 0) break;
    lock.unlock();
    const auto slice = static_cast<std::uint32_t>(std::ceil(std::min(realMs, kLongestSliceMs)));
    woken = wake.Wait(std::max<std::uint32_t>(slice, 1));
    lock.lock();
    if (woken) break;
  }
  Leave(sleeper);
  return woken;
}

std::chrono::system_clock::time_point CampaignClock::WallNow() {
  return wallBase_ + std::chrono::milliseconds(NowMs());
}

}  // namespace tarvik::campaign
