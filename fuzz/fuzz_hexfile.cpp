// Any text as a HEX file. Whatever it holds, the loader ends with either a
// grid of the viewer's layout within 64 KiB or an error that names where
// the file is wrong and leaves the empty grid.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "firmware/hexfile.h"

namespace {

bool IsUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const tarvik::HexLoad load = tarvik::LoadHexText(text);
  const auto& rows = load.Grid.Rows;
  const tarvik::HexGrid empty = tarvik::EmptyHexGrid();
  Check(rows.size() >= static_cast<std::size_t>(tarvik::kHexGridMinRows));
  Check(rows.size() <= static_cast<std::size_t>(tarvik::kHexGridMaxDataRows) + 1);
  Check(rows[0] == empty.Rows[0]);

  if (!load.Ok()) {
    Check(!load.Error.empty());
    Check(load.DataRows == 0);
    Check(rows == empty.Rows);
    Check(load.Line >= 0 && load.Column >= 0);
    return 0;
  }
  Check(load.Error.empty());
  Check(load.DataRows >= 1 && load.DataRows <= tarvik::kHexGridMaxDataRows);
  for (std::size_t r = 1; r < rows.size(); ++r) {
    if (r > static_cast<std::size_t>(load.DataRows)) {
      Check(rows[r] == tarvik::HexGridRow{});
      continue;
    }
    const std::string& address = rows[r][0];
    Check(address.size() == 5 && address[4] == '0');
    Check(std::strtoul(address.substr(0, 4).c_str(), nullptr, 16) == r - 1);
    for (int k = 1; k < tarvik::kHexGridColumns; ++k) {
      const std::string& cell = rows[r][static_cast<std::size_t>(k)];
      Check(cell.size() == 2 && IsUpperHex(cell[0]) && IsUpperHex(cell[1]));
    }
  }
  return 0;
}
