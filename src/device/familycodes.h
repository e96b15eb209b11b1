#pragma once
// The firmware family codes. The order decides which code wins when a text
// holds several; no code is contained in another.
#include <array>
#include <string_view>

namespace tarvik {

inline constexpr std::array<std::string_view, 6> FamilyCodes = {"QTT1",  "QTT3", "QHT1",
                                                                "QEVQ1", "QLT1", "QZT1"};

}  // namespace tarvik
