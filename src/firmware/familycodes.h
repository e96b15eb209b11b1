#pragma once
// The firmware families: each family code with the device type whose
// firmware it names, one row per family, in search order. The order decides
// which code wins when a text holds several; no code is contained in another.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tarvik {

struct FirmwareFamily {
  std::string_view code;
  std::int32_t typeNumber;
};

inline constexpr std::array<FirmwareFamily, 6> FamilyCodes = {{
    {"QTT1", 2},
    {"QTT3", 12},
    {"QHT1", 9},
    {"QEVQ1", 8},
    {"QLT1", 3},
    {"QZT1", 5},
}};

// 1-based position of the first code in the table that occurs in the text
// (case-sensitive), or 0.
constexpr int FindFamilyCode(std::string_view text) {
  for (std::size_t i = 0; i < FamilyCodes.size(); ++i) {
    if (text.find(FamilyCodes[i].code) != std::string_view::npos) return static_cast<int>(i + 1);
  }
  return 0;
}

// The family code of a type number, or empty.
constexpr std::string_view FamilyCodeOfType(std::int32_t typeNumber) {
  for (const FirmwareFamily& row : FamilyCodes) {
    if (row.typeNumber == typeNumber) return row.code;
  }
  return {};
}

// The type number of an exact family code, or -1.
constexpr std::int32_t TypeOfFamilyCode(std::string_view familyCode) {
  for (const FirmwareFamily& row : FamilyCodes) {
    if (row.code == familyCode) return row.typeNumber;
  }
  return -1;
}

}  // namespace tarvik
