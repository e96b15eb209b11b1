#include "reflash/durations.h"

#include <cmath>
#include <limits>

#include "common/text.h"

namespace tarvik {
namespace {

constexpr std::uint32_t kSecondsPerDay = 86400;
constexpr std::uint32_t kSecondsPerHour = 3600;
constexpr std::uint32_t kSecondsPerMinute = 60;

struct UnitWords {
  std::string days = Utf8ToCp1251(" сут ");
  std::string hours = Utf8ToCp1251(" ч ");
  std::string minutes = Utf8ToCp1251(" мин ");
  std::string seconds = Utf8ToCp1251(" сек ");
};

const UnitWords& Words() {
  static const UnitWords words;
  return words;
}

std::uint32_t ClampToSeconds(double value) {
  constexpr double kMax = std::numeric_limits<std::uint32_t>::max();
  if (!(value > 0)) return 0;
  return value >= kMax ? std::numeric_limits<std::uint32_t>::max() : static_cast<std::uint32_t>(value);
}

// Whole seconds, halves to the even neighbour, whatever rounding mode the
// thread has.
std::uint32_t RoundedSeconds(double estimate) {
  const double floor = std::floor(estimate);
  const double fraction = estimate - floor;
  double rounded = floor;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(floor, 2.0) != 0.0)) rounded = floor + 1;
  return ClampToSeconds(rounded);
}

}  // namespace

std::string FormatDuration(std::uint32_t seconds) {
  const UnitWords& words = Words();
  const std::uint32_t days = seconds / kSecondsPerDay;
  const std::uint32_t hours = seconds % kSecondsPerDay / kSecondsPerHour;
  const std::uint32_t minutes = seconds % kSecondsPerHour / kSecondsPerMinute;
  const std::uint32_t rest = seconds % kSecondsPerMinute;
  std::string text;
  if (days > 0) text += std::to_string(days) + words.days;
  if (seconds >= kSecondsPerHour) text += std::to_string(hours) + words.hours;
  if (seconds >= kSecondsPerMinute) text += std::to_string(minutes) + words.minutes;
  return text + std::to_string(rest) + words.seconds;
}

std::uint32_t ElapsedSeconds(std::chrono::system_clock::time_point now,
                             std::chrono::system_clock::time_point start) {
  const auto gap = now >= start ? now - start : start - now;
  const auto whole = std::chrono::duration_cast<std::chrono::seconds>(gap).count();
  return whole >= std::numeric_limits<std::uint32_t>::max() ? std::numeric_limits<std::uint32_t>::max()
                                                            : static_cast<std::uint32_t>(whole);
}

std::uint32_t RemainingSeconds(std::uint32_t elapsed, std::int32_t partsComplete, std::int32_t total) {
  if (partsComplete >= total) return 0;
  if (partsComplete <= 0) return elapsed;
  return RoundedSeconds(static_cast<double>(elapsed) / static_cast<double>(partsComplete) *
                        static_cast<double>(total - partsComplete));
}

std::uint32_t RemainingFromWrites(std::uint64_t writingMs, std::size_t written, std::size_t left,
                                  std::uint32_t settleMs) {
  double ms = static_cast<double>(settleMs);
  if (written > 0)
    ms += static_cast<double>(writingMs) / static_cast<double>(written) * static_cast<double>(left);
  return RoundedSeconds(ms / 1000.0);
}

}  // namespace tarvik
