#pragma once
// The firmware family codes. The order decides which code wins when a text
// holds several; no code is contained in another.
#include <array>
#include <cstddef>
#include <string_view>

namespace tarvik {

inline constexpr std::array<std::string_view, 6> FamilyCodes = {"QTT1",  "QTT3", "QHT1",
                                                                "QEVQ1", "QLT1", "QZT1"};

// 1-based position of the first code in the table that occurs in the text
// (case-sensitive), or 0.
inline int FindFamilyCode(std::string_view text) {
  for (std::size_t i = 0; i < FamilyCodes.size(); ++i) {
    if (text.find(FamilyCodes[i]) != std::string_view::npos) return static_cast<int>(i + 1);
  }
  return 0;
}

}  // namespace tarvik
