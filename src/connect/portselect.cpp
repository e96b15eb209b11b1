#include "connect/portselect.h"

#include <algorithm>

#include "common/regex.h"
#include "common/text.h"

namespace tarvik {

int SelectItemByPattern(const std::vector<std::string>& items, std::string_view pattern) {
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (!RegexFirstMatch(pattern, items[i]).empty()) return static_cast<int>(i);
  }
  return -1;
}

std::vector<std::string> SortPortNames(std::vector<std::string> names) {
  // std::string compares as char, which is signed here: compare as unsigned
  // bytes so Cyrillic names sort after Latin ones.
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    });
  });
  return names;
}

std::vector<std::string> ReselectPatterns(std::string_view text) {
  const std::string digits = RegexFirstMatch("\\d+", text);
  // The letters right before the first number: the leftmost match of this
  // pattern always ends in that number.
  const std::string named = RegexFirstMatch("[A-Za-z_]*\\d+", text);
  const std::string prefix = named.substr(0, named.size() - digits.size());
  if (!prefix.empty() && AsciiUpper(prefix) != "COM") return {prefix + digits + "$"};
  std::vector<std::string> patterns{"COM" + digits + "$"};
  if (prefix.empty() && !digits.empty()) patterns.push_back("[^0-9]" + digits + "$");
  return patterns;
}

int ReselectPort(std::string_view text, const std::vector<std::string>& sortedPorts) {
  if (sortedPorts.empty()) return -1;
  for (const std::string& pattern : ReselectPatterns(text)) {
    const int index = SelectItemByPattern(sortedPorts, pattern);
    if (index >= 0) return index;
  }
  return 0;
}

}  // namespace tarvik
