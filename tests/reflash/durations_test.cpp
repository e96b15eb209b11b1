#include "reflash/durations.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <string>

#include "common/text.h"

namespace tarvik {
namespace {

using std::chrono::milliseconds;

constexpr std::uint32_t kMax = std::numeric_limits<std::uint32_t>::max();

TEST(FormatDuration, NamesTheLargestUnitAndEverySmallerOne) {
  struct Case {
    std::uint32_t seconds;
    const char* text;  // UTF-8
  };
  const Case cases[] = {
      {0, "0 сек "},
      {59, "59 сек "},
      {60, "1 мин 0 сек "},
      {61, "1 мин 1 сек "},
      {3599, "59 мин 59 сек "},
      {3600, "1 ч 0 мин 0 сек "},
      {3661, "1 ч 1 мин 1 сек "},
      {86399, "23 ч 59 мин 59 сек "},
      {86400, "1 сут 0 ч 0 мин 0 сек "},
      {86460, "1 сут 0 ч 1 мин 0 сек "},
      {90061, "1 сут 1 ч 1 мин 1 сек "},
      {kMax, "49710 сут 6 ч 28 мин 15 сек "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.seconds);
    const std::string text = FormatDuration(c.seconds);
    EXPECT_EQ(text, Utf8ToCp1251(c.text)) << Cp1251ToUtf8(text);
  }
  // Windows-1251 bytes, not UTF-8: "с" is one byte.
  EXPECT_EQ(FormatDuration(5), std::string("5 \xF1\xE5\xEA "));
}

TEST(ElapsedSeconds, WholeSecondsEitherWay) {
  const std::chrono::system_clock::time_point start{std::chrono::sys_days{std::chrono::year{2015} / 12 / 8}};
  struct Case {
    const char* name;
    milliseconds offset;
    std::uint32_t seconds;
  };
  const Case cases[] = {
      {"none", milliseconds(0), 0},
      {"just short of a second", milliseconds(999), 0},
      {"a second", milliseconds(1000), 1},
      {"the fraction is dropped", milliseconds(61'999), 61},
      {"a clock put back before the start", milliseconds(-1500), 1},
      {"a day and a half second", milliseconds(86'400'500), 86400},
      {"longer than 32 bits hold", milliseconds(std::int64_t{kMax} * 1000 + 5000), kMax},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ElapsedSeconds(start + c.offset, start), c.seconds);
  }
}

TEST(RemainingSeconds, ElapsedPerPartTimesPartsLeftRoundedHalfToEven) {
  struct Case {
    const char* name;
    std::uint32_t elapsed;
    std::int32_t parts;
    std::int32_t total;
    std::uint32_t remaining;
    const char* shown = nullptr;  // UTF-8, where the text matters
  };
  const Case cases[] = {
      {"10 s for 5 of 105 parts", 10, 5, 105, 200, "3 мин 20 сек "},
      {"2.5 goes down to the even 2", 5, 2, 3, 2, "2 сек "},
      {"3.5 goes up to the even 4", 7, 2, 3, 4, "4 сек "},
      {"0.5 goes to 0", 1, 2, 3, 0},
      {"1.5 goes to 2", 3, 2, 3, 2},
      {"above a half goes up", 4, 3, 5, 3},  // 2.67
      {"a full bar", 100, 10, 10, 0, "0 сек "},
      {"past the total", 100, 11, 10, 0},
      {"nothing elapsed yet", 0, 1, 100, 0},
      {"no part done: the elapsed time stands in", 12, 0, 10, 12},
      {"too long for 32 bits", kMax, 1, 1000, kMax},
      {"image 1 at the start", 2, 3, 405, 268},  // 2 / 3 * 402 = 268
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::uint32_t remaining = RemainingSeconds(c.elapsed, c.parts, c.total);
    EXPECT_EQ(remaining, c.remaining);
    if (c.shown != nullptr) {
      EXPECT_EQ(Cp1251ToUtf8(FormatDuration(remaining)), c.shown);
    }
  }
}

}  // namespace
}  // namespace tarvik

namespace tarvik {
namespace {

// The time to go is judged by the writes' pace, not by an erase that took
// as long as the device needed.
TEST(RemainingFromWrites, FollowsThePaceOfTheWrites) {
  const struct {
    const char* name;
    std::uint64_t writingMs;
    std::size_t written;
    std::size_t left;
    std::uint32_t settleMs;
    std::uint32_t seconds;
  } cases[] = {
      // 952 records, 238 groups: a tenth written in 4 s leaves 36 s of
      // writes and the 1.5 s settle, whatever the erase before took.
      {"a tenth of the image", 4000, 24, 214, 1500, 37},
      {"nothing left but the settle", 40000, 238, 0, 1500, 2},
      {"half a second rounds to the even neighbour", 500, 1, 1, 0, 0},
      {"one and a half seconds round up", 1500, 1, 1, 0, 2},
      {"before the first group the settle is all there is", 0, 0, 100, 15000, 15},
      {"the settle of a staged upload", 0, 0, 0, 60300, 60},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RemainingFromWrites(c.writingMs, c.written, c.left, c.settleMs), c.seconds);
  }
}

}  // namespace
}  // namespace tarvik
