#include "common/text.h"

#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <regex>
#include <string>
#include <string_view>

namespace tarvik {
namespace {

TEST(Cp1251, RoundTripsEveryAssignedByte) {
  for (int b = 0; b < 256; ++b) {
    if (b == 0x98) continue;  // unassigned in Windows-1251
    const std::string one(1, static_cast<char>(b));
    EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(one)), one) << "byte " << b;
  }
}

TEST(Cp1251, ConvertsRussianTextBothWays) {
  const std::string utf8 = "СОЕДИНЕНИЕ УСТАНОВЛЕНО ёЁ №";
  const std::string cp = Utf8ToCp1251(utf8);
  EXPECT_EQ(cp.size(), 27u);
  EXPECT_EQ(static_cast<unsigned char>(cp[0]), 0xD1);  // С
  EXPECT_EQ(Cp1251ToUtf8(cp), utf8);
}

TEST(Cp1251, UnmappableAndMalformedInputBecomesQuestionMarks) {
  EXPECT_EQ(Utf8ToCp1251("a\xE2\x82"), "a??");       // truncated sequence
  EXPECT_EQ(Utf8ToCp1251("\xF0\x9F\x98\x80"), "?");  // emoji
  EXPECT_EQ(Utf8ToCp1251("\xFF"), "?");
}

// Sets the character set of the C library for one test.
class LocaleCharset {
 public:
  explicit LocaleCharset(const char* name) : saved_(std::setlocale(LC_CTYPE, nullptr)) {
    active_ = std::setlocale(LC_CTYPE, name) != nullptr;
  }
  ~LocaleCharset() { std::setlocale(LC_CTYPE, saved_.c_str()); }
  bool Active() const { return active_; }

 private:
  std::string saved_;
  bool active_ = false;
};

TEST(LocaleToCp1251, SystemTextsBecomeWindows1251) {
  // A system text in Russian, as a UTF-8 locale gives it.
  const std::string russian = "Отказано в доступе";
  for (const char* charset : {"C.UTF-8", "C"}) {
    LocaleCharset locale(charset);
    if (!locale.Active()) continue;
#ifdef _WIN32
    // The C library of Windows reads every byte as a character of its own in
    // the "C" locale; there the system's texts come in the ANSI code page.
    if (std::string_view(charset) == "C") continue;
#endif
    EXPECT_EQ(LocaleToCp1251(russian), Utf8ToCp1251(russian)) << charset;
    EXPECT_EQ(LocaleToCp1251("Permission denied"), "Permission denied") << charset;
    // Bytes no character set here can read.
    EXPECT_EQ(LocaleToCp1251("a\xFF"
                             "b"),
              "a?b")
        << charset;
  }
}

TEST(Upper, AsciiOnlyLeavesCyrillicAlone) {
  const std::string cyr = Utf8ToCp1251("пр");
  EXPECT_EQ(AsciiUpper("ok, Boot" + cyr), "OK, BOOT" + cyr);
  EXPECT_EQ(Cp1251Upper("boot" + cyr + Utf8ToCp1251("ё")), "BOOT" + Utf8ToCp1251("ПРЁ"));
}

TEST(Trim, RemovesBlanksAndControlsAtBothEnds) {
  struct Case {
    std::string in, out;
  } cases[] = {{"", ""},
               {" \t\r\n", ""},
               {"\r\nVER 14.002.020\r\n", "VER 14.002.020"},
               {"a b", "a b"},
               {std::string("\0x\x1F", 3), "x"}};
  for (const auto& c : cases) EXPECT_EQ(Trim(c.in), c.out) << c.in;
}

TEST(ParseInt32, AcceptsOnlyWholeDecimalIntegersInRange) {
  struct Case {
    const char* text;
    std::optional<std::int32_t> value;
  } cases[] = {{"0", 0},
               {"037", 37},
               {"-5", -5},
               {"+7", 7},
               {"", std::nullopt},
               {" 1", std::nullopt},
               {"1 ", std::nullopt},
               {"1a", std::nullopt},
               {"-", std::nullopt},
               {"+-1", std::nullopt},
               {"2147483647", 2147483647},
               {"2147483648", std::nullopt},
               {"-2147483648", INT32_MIN},
               {"0x10", std::nullopt}};
  for (const auto& c : cases) EXPECT_EQ(ParseInt32(c.text), c.value) << c.text;
}

TEST(SplitLines, HandlesEveryLineEnd) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitLines("9\r\n26"), (V{"9", "26"}));
  EXPECT_EQ(SplitLines("a\r\nb\r\n"), (V{"a", "b"}));
  EXPECT_EQ(SplitLines("a\rb\nc"), (V{"a", "b", "c"}));
  EXPECT_EQ(SplitLines("a\r\n\r\nb"), (V{"a", "", "b"}));
  EXPECT_EQ(SplitLines(""), V{});
}

TEST(FormatLocalDateTime, LeavesOutTheTimeOnlyAtMidnight) {
  std::tm tm{};
  tm.tm_year = 115;
  tm.tm_mon = 11;
  tm.tm_mday = 8;
  tm.tm_isdst = -1;
  const auto midnight = std::chrono::system_clock::from_time_t(std::mktime(&tm));
  const std::string date = FormatLocalDateTime(midnight);
  EXPECT_EQ(date.find(' '), std::string::npos) << date;
  const std::string withTime = FormatLocalDateTime(midnight + std::chrono::hours(9) +
                                                   std::chrono::minutes(7) + std::chrono::seconds(3));
  EXPECT_EQ(withTime.rfind(date + " ", 0), 0u) << withTime;
  EXPECT_NE(withTime.find("07"), std::string::npos) << withTime;
}

#ifndef _WIN32
// The zone is set through TZ, which only the POSIX C library reads in its
// full form (rules for summer time included).
class LocalZone {
 public:
  explicit LocalZone(const char* zone) {
    if (const char* was = std::getenv("TZ")) was_ = was;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~LocalZone() {
    if (was_) {
      ::setenv("TZ", was_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

 private:
  std::optional<std::string> was_;
};
#endif

TEST(FormatIsoDateTime, LocalTimeWithTheOffsetInForceThen) {
#ifdef _WIN32
  GTEST_SKIP() << "TZ rules are read by the POSIX C library only";
#else
  using namespace std::chrono;
  const auto at = [](year_month_day day, hours h, minutes m, seconds s, milliseconds ms = {}) {
    return system_clock::time_point(sys_days(day) + h + m + s + ms);
  };
  struct Case {
    const char* zone;
    system_clock::time_point when;  // UTC
    const char* text;
  };
  const Case cases[] = {
      {"UTC0", at(2026y / March / 29, 2h, 30min, 5s, 120ms), "2026-03-29T02:30:05.120+00:00"},
      {"MSK-3", at(2026y / March / 29, 2h, 30min, 5s, 999ms), "2026-03-29T05:30:05.999+03:00"},
      // Half hours, east and west.
      {"IST-5:30", at(2026y / January / 1, 0h, 0min, 0s), "2026-01-01T05:30:00.000+05:30"},
      {"NST3:30", at(2026y / January / 1, 0h, 0min, 0s), "2025-12-31T20:30:00.000-03:30"},
      // West of UTC the local date is still the day before, across a year.
      {"EST5", at(2000y / January / 1, 1h, 0min, 0s), "1999-12-31T20:00:00.000-05:00"},
      // A leap day.
      {"EST5", at(2024y / March / 1, 3h, 0min, 0s), "2024-02-29T22:00:00.000-05:00"},
      // Summer time changes the offset, not only the hour.
      {"CET-1CEST,M3.5.0,M10.5.0/3", at(2026y / January / 15, 12h, 0min, 0s),
       "2026-01-15T13:00:00.000+01:00"},
      {"CET-1CEST,M3.5.0,M10.5.0/3", at(2026y / July / 1, 12h, 0min, 0s), "2026-07-01T14:00:00.000+02:00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.zone);
    const LocalZone zone(c.zone);
    EXPECT_EQ(FormatIsoDateTime(c.when), c.text);
  }
#endif
}

// In whatever zone the tests run (Windows too): the local time less the
// offset the text names is the moment itself.
TEST(FormatIsoDateTime, LocalTimeLessItsOffsetIsTheMoment) {
  using namespace std::chrono;
  const std::regex form(R"((\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)\.(\d{3})([+-])(\d\d):(\d\d))");
  for (const auto day : {2024y / February / 29, 2026y / January / 15, 2026y / July / 1}) {
    const system_clock::time_point when = sys_days(day) + 13h + 4min + 5s + 678ms;
    const std::string text = FormatIsoDateTime(when);
    SCOPED_TRACE(text);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(text, m, form));
    const auto number = [&](int i) { return std::stoi(m[i].str()); };
    const sys_days localDay = year(number(1)) / month(static_cast<unsigned>(number(2))) /
                              std::chrono::day(static_cast<unsigned>(number(3)));
    const minutes offset = (m[8] == "-" ? -1 : 1) * (hours(number(9)) + minutes(number(10)));
    const system_clock::time_point moment = localDay + hours(number(4)) + minutes(number(5)) +
                                            seconds(number(6)) + milliseconds(number(7)) - offset;
    EXPECT_EQ(moment, when);
  }
}

}  // namespace
}  // namespace tarvik
