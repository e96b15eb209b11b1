#include "common/regex.h"

#include <gtest/gtest.h>

#include "common/text.h"

namespace tarvik {
namespace {

struct FirstCase {
  const char* pattern;
  std::string text;
  bool icase;
  bool multi;
  std::string match;
};

TEST(RegexFirstMatch, Dialect) {
  const std::string cyr = Utf8ToCp1251("Порт");
  const FirstCase cases[] = {
      {"\\w+", "COM3 (USB Serial)", false, false, "COM3"},
      {"\\w+", "COM12 - USB", false, false, "COM12"},
      {"\\w+", "  ttyUSB0", false, false, "ttyUSB0"},
      // \w is ASCII only whatever the locale: Cyrillic letters are not word characters.
      {"\\w+", cyr + "COM5", false, false, "COM5"},
      {"\\d+", "COM12", false, false, "12"},
      {"\\d+", "no digits", false, false, ""},
      {"COM12$", "COM12", false, false, "COM12"},
      {"COM1$", "COM12", false, false, ""},
      {"COM$", "COM1", false, false, ""},
      {"[^\\n\\r]+", "\r\nVER 14.002.020\r\nOK", false, false, "VER 14.002.020"},
      {"\\d{3}", "QTT1.001.002", false, false, "001"},
      {"ok", "OK", true, false, "OK"},
      {"ok", "OK", false, false, ""},
      {"^b$", "a\nb\nc", false, false, ""},
      {"^b$", "a\nb\nc", false, true, "b"},
      {"[A-F0-9]+", "xx12AFg", false, false, "12AF"},
      {"a.c", "abc", false, false, "abc"},
      {"colou?r", "color", false, false, "color"},
      {"x*", "abc", false, false, ""},
      {"(a|b)", "a", false, false, ""},  // groups are not part of the dialect
      {"[abc", "a", false, false, ""},
      {"a{2,3}", "aaaa", false, false, "aaa"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RegexFirstMatch(c.pattern, c.text, c.icase, c.multi), c.match) << c.pattern << " in " << c.text;
  }
}

TEST(RegexNthMatch, CountsNonOverlappingMatches) {
  EXPECT_EQ(RegexNthMatch("QTT1.001.002", "\\d{3}", 1), "001");
  EXPECT_EQ(RegexNthMatch("QTT1.001.002", "\\d{3}", 2), "002");
  EXPECT_EQ(RegexNthMatch("QTT1.001.002", "\\d{3}", 3), "");
  EXPECT_EQ(RegexNthMatch("QTT1.01.2", "\\d{3}", 1), "");
  EXPECT_EQ(RegexNthMatch("123456", "\\d{3}", 2), "456");
  EXPECT_EQ(RegexNthMatch("abc", "x*", 2), "");
  EXPECT_EQ(RegexNthMatch("abc", "\\w", 0), "");
}

TEST(RegexFirstMatch, LongInputDoesNotExhaustTheStack) {
  const std::string longLine(1 << 20, 'x');
  EXPECT_EQ(RegexFirstMatch("[^\\n\\r]+", longLine).size(), longLine.size());
}

}  // namespace
}  // namespace tarvik
