#include "common/resources.h"

namespace tarvik {

std::optional<std::string_view> FindResource(int number) {
  if (number <= 0) return std::nullopt;
  for (const EmbeddedResource& r : EmbeddedResources()) {
    if (r.Name.empty() && r.Number == number) return r.Data;
  }
  return std::nullopt;
}

}  // namespace tarvik
