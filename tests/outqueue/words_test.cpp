#include "outqueue/words.h"

#include <gtest/gtest.h>

#include "common/text.h"

namespace tarvik {
namespace {

TEST(Words, BooleanWordReadsNumbersThenTrueAndFalseInAnyCase) {
  const struct {
    const char* word;
    bool value;
  } cases[] = {
      {"1", true},    {"-3", true},          {"0", false},     {"00", false},    {"0.0", false},
      {"2.5", true},  {"1e3", true},         {"+7", true},     {"true", true},   {"True", true},
      {"TRUE", true}, {"tRuE", true},        {"false", false}, {"FALSE", false}, {"yes", false},
      {"", false},    {"enabletrue", false}, {" 1", false},    {"1 ", false},    {"inf", false},
      {"nan", false}, {"1e", false},         {".", false},     {"-", false},     {"1e999", true},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadBooleanWord(c.word), c.value) << '"' << c.word << '"';
}

TEST(Words, ClickWordIgnoresLetterCaseOnly) {
  const struct {
    const char* word;
    bool click;
  } cases[] = {{"Click", true},   {"click", true},   {"CLICK", true}, {"cLiCk", true},
               {"Clickx", false}, {" Click", false}, {"Clic", false}, {"", false}};
  for (const auto& c : cases) EXPECT_EQ(IsClickWord(c.word), c.click) << '"' << c.word << '"';
}

TEST(Words, IntegerWordTakesDecimalAndHexAndRejectsTheRest) {
  const struct {
    const char* word;
    std::int32_t value;
  } good[] = {{"0", 0}, {"42", 42}, {"-17", -17}, {"+5", 5}, {"$FF", 255}, {"0x10", 16}, {"$FFFFFFFF", -1}};
  for (const auto& c : good) EXPECT_EQ(ReadIntegerWord(c.word), c.value) << c.word;
  for (const char* bad : {"", "abc", "1.5", "12a", "$", "0x", "$123456789", "99999999999", " 1"}) {
    EXPECT_THROW(ReadIntegerWord(bad), WordError) << '"' << bad << '"';
  }
}

TEST(Words, ColorWordTakesNamesInAnyCaseAndLowByteFirstNumbers) {
  const struct {
    const char* word;
    Rgb rgb;
  } good[] = {{"clGreen", {0, 128, 0}}, {"clRed", {255, 0, 0}},       {"CLRED", {255, 0, 0}},
              {"clBlue", {0, 0, 255}},  {"clWhite", {255, 255, 255}}, {"255", {255, 0, 0}},
              {"$FF0000", {0, 0, 255}}, {"$00FF00", {0, 255, 0}},     {"0", {0, 0, 0}}};
  for (const auto& c : good) EXPECT_EQ(ReadColorWord(c.word), c.rgb) << c.word;
  for (const char* bad : {"", "green", "clGreenish", "-16777201", "$FFFFFFFF"}) {
    EXPECT_THROW(ReadColorWord(bad), WordError) << '"' << bad << '"';
  }
}

TEST(Words, OnlyTheTwoConnectionCaptionsColourALabel) {
  EXPECT_EQ(LabelColorFor(Utf8ToCp1251("СОЕДИНЕНИЕ УСТАНОВЛЕНО")), (Rgb{0, 128, 0}));
  EXPECT_EQ(LabelColorFor(Utf8ToCp1251("СОЕДИНЕНИЕ РАЗОРВАНО")), (Rgb{255, 0, 0}));
  for (const char* other : {"Соединение установлено", "СОЕДИНЕНИЕ УСТАНОВЛЕНО ", "СОЕДИНЕНИЕ", ""}) {
    EXPECT_FALSE(LabelColorFor(Utf8ToCp1251(other)).has_value()) << other;
  }
  // The comparison is made on Windows-1251 bytes, not on UTF-8 text.
  EXPECT_FALSE(LabelColorFor("СОЕДИНЕНИЕ УСТАНОВЛЕНО").has_value());
}

}  // namespace
}  // namespace tarvik
