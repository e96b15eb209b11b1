#pragma once
// The HEX file viewer's grid as text cells: row 0 holds the headings, every
// later row 16 bytes of program memory. Column 0 is the row's address (the
// 16-byte block number as four hex digits, then "0"); columns 1 to 16 are
// the bytes as two hex digits each. The service-menu reflash reads its
// write commands from exactly this layout.
#include <array>
#include <string>
#include <vector>

namespace tarvik {

inline constexpr int kHexGridColumns = 17;
using HexGridRow = std::array<std::string, kHexGridColumns>;

struct HexGrid {
  std::vector<HexGridRow> Rows;
};

}  // namespace tarvik
