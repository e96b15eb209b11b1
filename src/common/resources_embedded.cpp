#include "common/resources.h"
#include "common/text.h"

namespace tarvik {

std::optional<std::string_view> FindResource(std::string_view name) {
  if (name.empty()) return std::nullopt;
  const std::string wanted = AsciiUpper(name);
  for (const EmbeddedResource& r : EmbeddedResources()) {
    if (!r.Name.empty() && AsciiUpper(r.Name) == wanted) return r.Data;
  }
  return std::nullopt;
}

std::optional<std::string_view> FindResource(int number) {
  if (number <= 0) return std::nullopt;
  for (const EmbeddedResource& r : EmbeddedResources()) {
    if (r.Name.empty() && r.Number == number) return r.Data;
  }
  return std::nullopt;
}

}  // namespace tarvik
