#include "firmware/devicetypes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvik {
namespace {

std::vector<DeviceTypeRow> Shipped() { return {kDeviceTypes.begin(), kDeviceTypes.end()}; }

DeviceTypeRow& Row(std::vector<DeviceTypeRow>& rows, std::int32_t type) {
  for (DeviceTypeRow& row : rows) {
    if (row.typeNumber == type) return row;
  }
  throw std::logic_error("no type " + std::to_string(type));
}

// Each case breaks the shipped table in one place; the check names the fault
// and the rows it lies between.
TEST(DeviceTypeTable, ContradictionsAreFoundWithTheirRows) {
  const struct {
    const char* what;
    void (*breakIt)(std::vector<DeviceTypeRow>&);
    const char* fault;
    std::int32_t type;
    std::int32_t other;
  } cases[] = {
      {"a type number twice",
       [](std::vector<DeviceTypeRow>& t) {
         Row(t, 12).versionLine = "14.002.000";
         Row(t, 12).typeNumber = 2;
       },
       "two rows have the same type number", 2, 2},
      {"a version line of another type",
       [](std::vector<DeviceTypeRow>& t) { Row(t, 4).versionLine = "14.006.000"; },
       "its version line does not name its type number", 4, 0},
      {"a family line without its code", [](std::vector<DeviceTypeRow>& t) { Row(t, 5).familyLine = "QZT1"; },
       "its family line does not begin with a family code and a dot", 5, 0},
      {"a family without a rank", [](std::vector<DeviceTypeRow>& t) { Row(t, 9).familyRank = 0; },
       "it has a family code without a search rank or the other way", 9, 0},
      {"a family rank twice", [](std::vector<DeviceTypeRow>& t) { Row(t, 9).familyRank = 1; },
       "two family codes share a search rank", 2, 9},
      {"a family code inside another",
       [](std::vector<DeviceTypeRow>& t) { Row(t, 5).familyLine = "QTT1X.000.000"; },
       "the first row's family code is part of the second's", 2, 5},
      // "TT" searched before "QTT3": the small door detector would never be
      // found by its bootloader.
      {"TT before QTT3",
       [](std::vector<DeviceTypeRow>& t) {
         Row(t, 2).tokenRank = 2;
         Row(t, 12).tokenRank = 3;
       },
       "the first row's bootloader token is searched first and is part of the second's, so no unit name "
       "finds "
       "the second",
       2, 12},
      // A token searched before "LT" that "QLT1" holds takes the motion
      // detector's bootloader for another type.
      {"QLT1 found as another type",
       [](std::vector<DeviceTypeRow>& t) {
         Row(t, 1).bootloaderToken = "QL";
         Row(t, 3).tokenRank = 10;
       },
       "a unit name that is the first row's family code finds the second row", 3, 1},
      {"a token without a rank", [](std::vector<DeviceTypeRow>& t) { Row(t, 7).tokenRank = 0; },
       "it has a bootloader token without a search rank or the other way", 7, 0},
      {"a write time-out of 0", [](std::vector<DeviceTypeRow>& t) { Row(t, 8).timings.writeMs = 0; },
       "a time-out is not above 0", 8, 0},
  };
  EXPECT_EQ(CheckDeviceTypes(kDeviceTypes).what, "");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<DeviceTypeRow> table = Shipped();
    c.breakIt(table);
    const DeviceTypeFault fault = CheckDeviceTypes(table);
    EXPECT_EQ(fault.what, c.fault);
    EXPECT_EQ(fault.typeNumber, c.type);
    EXPECT_EQ(fault.otherType, c.other);
  }
}

}  // namespace
}  // namespace tarvik
