#include "outqueue/words.h"

#include <array>
#include <charconv>
#include <string>

#include "common/text.h"

namespace tarvik {
namespace {

struct NamedColor {
  std::string_view name;
  Rgb rgb;
};

constexpr std::array<NamedColor, 20> kColors = {{
    {"clBlack", {0, 0, 0}},       {"clMaroon", {128, 0, 0}},         {"clGreen", {0, 128, 0}},
    {"clOlive", {128, 128, 0}},   {"clNavy", {0, 0, 128}},           {"clPurple", {128, 0, 128}},
    {"clTeal", {0, 128, 128}},    {"clGray", {128, 128, 128}},       {"clSilver", {192, 192, 192}},
    {"clRed", {255, 0, 0}},       {"clLime", {0, 255, 0}},           {"clYellow", {255, 255, 0}},
    {"clBlue", {0, 0, 255}},      {"clFuchsia", {255, 0, 255}},      {"clAqua", {0, 255, 255}},
    {"clWhite", {255, 255, 255}}, {"clMoneyGreen", {192, 220, 192}}, {"clSkyBlue", {166, 202, 240}},
    {"clCream", {255, 251, 240}}, {"clMedGray", {160, 160, 164}},
}};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::optional<std::int64_t> ParseHex(std::string_view digits) {
  if (digits.empty() || digits.size() > 8) return std::nullopt;
  std::uint32_t value = 0;
  const char* end = digits.data() + digits.size();
  const auto [ptr, ec] = std::from_chars(digits.data(), end, value, 16);
  if (ec != std::errc() || ptr != end) return std::nullopt;
  return static_cast<std::int64_t>(value);
}

}  // namespace

std::optional<double> ParseNumberWord(std::string_view word) {
  // The grammar is checked by hand: from_chars alone would also take "inf"
  // and "nan", which are words, not numbers.
  std::size_t i = 0;
  auto skipSign = [&] {
    if (i < word.size() && (word[i] == '+' || word[i] == '-')) ++i;
  };
  auto skipDigits = [&] {
    const std::size_t start = i;
    while (i < word.size() && IsDigit(word[i])) ++i;
    return i - start;
  };
  skipSign();
  std::size_t digits = skipDigits();
  if (i < word.size() && word[i] == '.') {
    ++i;
    digits += skipDigits();
  }
  if (digits == 0) return std::nullopt;
  if (i < word.size() && (word[i] == 'e' || word[i] == 'E')) {
    ++i;
    skipSign();
    if (skipDigits() == 0) return std::nullopt;
  }
  if (i != word.size()) return std::nullopt;
  std::string_view body = word;
  if (!body.empty() && body.front() == '+') body.remove_prefix(1);
  double value = 0;
  const auto [ptr, ec] = std::from_chars(body.data(), body.data() + body.size(), value);
  if (ptr != body.data() + body.size()) return std::nullopt;
  // An exponent out of range still names a number; only its size is lost.
  if (ec == std::errc::result_out_of_range) return body.front() == '-' ? -1.0 : 1.0;
  if (ec != std::errc()) return std::nullopt;
  return value;
}

bool ReadBooleanWord(std::string_view word) {
  if (const auto number = ParseNumberWord(word)) return *number != 0;
  return AsciiUpper(word) == "TRUE";
}

bool IsClickWord(std::string_view word) { return AsciiUpper(word) == "CLICK"; }

std::int32_t ReadIntegerWord(std::string_view word) {
  if (const auto value = ParseInt32(word)) return *value;
  std::optional<std::int64_t> hex;
  if (word.size() > 1 && word.front() == '$') {
    hex = ParseHex(word.substr(1));
  } else if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
    hex = ParseHex(word.substr(2));
  }
  // Hexadecimal words are bit patterns: $FFFFFFFF is -1.
  if (hex) return static_cast<std::int32_t>(static_cast<std::uint32_t>(*hex));
  throw WordError("not a number: " + std::string(word));
}

Rgb ReadColorWord(std::string_view word) {
  const std::string upper = AsciiUpper(word);
  for (const auto& color : kColors) {
    if (AsciiUpper(color.name) == upper) return color.rgb;
  }
  const std::int32_t value = ReadIntegerWord(word);
  // Negative values name colours of the desktop scheme, which have no fixed RGB.
  if (value < 0) throw WordError("not a colour: " + std::string(word));
  const auto bits = static_cast<std::uint32_t>(value);
  return Rgb{static_cast<std::uint8_t>(bits & 0xFF), static_cast<std::uint8_t>((bits >> 8) & 0xFF),
             static_cast<std::uint8_t>((bits >> 16) & 0xFF)};
}

std::optional<Rgb> LabelColorFor(std::string_view cp1251Caption) {
  static const std::string established = Utf8ToCp1251("СОЕДИНЕНИЕ УСТАНОВЛЕНО");
  static const std::string broken = Utf8ToCp1251("СОЕДИНЕНИЕ РАЗОРВАНО");
  if (cp1251Caption == established) return ReadColorWord("clGreen");
  if (cp1251Caption == broken) return ReadColorWord("clRed");
  return std::nullopt;
}

}  // namespace tarvik
