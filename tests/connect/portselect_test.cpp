#include "connect/portselect.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace tarvik {
namespace {

using Names = std::vector<std::string>;

TEST(SortPortNames, KeepsByteOrder) {
  EXPECT_EQ(SortPortNames({"COM2", "COM12", "COM1", "COM10"}), (Names{"COM1", "COM10", "COM12", "COM2"}));
  // Bytes above 0x7F sort after ASCII although char is signed.
  EXPECT_EQ(SortPortNames({"\xCF\xEE\xF0\xF2", "COM1", "ttyS0"}),
            (Names{"COM1", "ttyS0", "\xCF\xEE\xF0\xF2"}));
}

TEST(SelectItemByPattern, FirstMatchingEntryOrMinusOne) {
  const Names items{"COM1", "COM12", "COM2"};
  EXPECT_EQ(SelectItemByPattern(items, "COM12$"), 1);
  EXPECT_EQ(SelectItemByPattern(items, "COM1"), 0);
  EXPECT_EQ(SelectItemByPattern(items, "COM$"), -1);
  EXPECT_EQ(SelectItemByPattern(items, "com1"), -1);  // case-sensitive
  EXPECT_EQ(SelectItemByPattern({}, "COM1$"), -1);
}

struct ReselectCase {
  const char* name;
  Names registered;      // as the system lists them, unsorted
  std::string text;      // the port box's text before the refresh
  std::string expected;  // the entry selected afterwards; empty: none
};

void PrintTo(const ReselectCase& c, std::ostream* os) { *os << c.name; }

class ReselectPortTest : public testing::TestWithParam<ReselectCase> {};

TEST_P(ReselectPortTest, SelectsRememberedPortOrFirst) {
  const ReselectCase& c = GetParam();
  const Names sorted = SortPortNames(c.registered);
  const int index = ReselectPort(c.text, sorted);
  if (c.expected.empty()) {
    EXPECT_EQ(index, -1);
  } else {
    ASSERT_GE(index, 0);
    ASSERT_LT(index, static_cast<int>(sorted.size()));
    EXPECT_EQ(sorted[static_cast<std::size_t>(index)], c.expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReselectPortTest,
    testing::Values(
        ReselectCase{"TwoDigitsNotPrefixOfOther", {"COM2", "COM12", "COM1"}, "COM12", "COM12"},
        ReselectCase{"OneDigitNotSuffixOfOther", {"COM11", "COM21", "COM1", "COM0"}, "COM1", "COM1"},
        ReselectCase{"UnregisteredFallsBackToFirst", {"COM3", "COM1", "COM2"}, "COM5", "COM1"},
        ReselectCase{"TypedNumber", {"COM1", "COM7", "COM17"}, "7", "COM7"},
        ReselectCase{"LowerCaseCom", {"COM1", "COM7"}, "com7", "COM7"},
        ReselectCase{"DescribedPort", {"COM1", "COM3"}, "COM3 (USB Serial)", "COM3"},
        ReselectCase{"NoDigits", {"COM2", "COM1"}, "auto", "COM1"},
        ReselectCase{"EmptyText", {"COM2", "COM1"}, "", "COM1"}, ReselectCase{"EmptyList", {}, "COM3", ""},
        ReselectCase{"EmptyListEmptyText", {}, "", ""},
        ReselectCase{"LinuxSamePrefix", {"ttyACM1", "ttyUSB11", "ttyUSB1", "ttyS0"}, "ttyUSB1", "ttyUSB1"},
        ReselectCase{"LinuxOtherPrefixNotTaken", {"ttyACM1", "rfcomm0"}, "ttyUSB1", "rfcomm0"},
        ReselectCase{"LinuxNoLongerNumber", {"ttyUSB11", "ttyS0"}, "ttyUSB1", "ttyS0"},
        ReselectCase{"LinuxAcm", {"ttyACM0", "ttyACM3", "ttyUSB3"}, "ttyACM3", "ttyACM3"},
        ReselectCase{"LinuxPathText", {"ttyS0", "ttyUSB0"}, "/dev/ttyUSB0", "ttyUSB0"},
        ReselectCase{"LinuxTypedNumber", {"ttyS13", "ttyUSB3", "rfcomm0"}, "3", "ttyUSB3"},
        ReselectCase{"TypedNumberPrefersCom", {"COM3", "ACM3"}, "3", "COM3"},
        ReselectCase{"ComTextOnLinuxFallsBack", {"ttyUSB0", "ttyUSB3"}, "COM3", "ttyUSB0"}),
    [](const testing::TestParamInfo<ReselectCase>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace tarvik
