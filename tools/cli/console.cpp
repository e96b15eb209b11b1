// What the console has in common on every system.
#include "cli/console.h"

#include <cstdlib>
#include <string>

#include "common/text.h"

namespace tarvik::cli {

int ColumnsFromEnvironment() {
  const char* text = std::getenv("COLUMNS");
  if (text == nullptr) return 0;
  const std::string value = Trim(text);
  // Wider than any screen: not a width but a mistake.
  const int columns = ParseInt32Or(value, 0);
  return columns > 0 && columns <= 10000 ? columns : 0;
}

}  // namespace tarvik::cli
