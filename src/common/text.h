#pragma once
// Text helpers of the core. Every string of the system is Windows-1251 bytes;
// conversion to Unicode happens only where text meets the windows.
#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

std::string Cp1251ToUtf8(std::string_view cp1251);
// Characters with no Windows-1251 form become '?'; malformed UTF-8 bytes too.
std::string Utf8ToCp1251(std::string_view utf8);

// Text in the character set of the C library's current locale (the system's
// error texts) as Windows-1251. A text the locale cannot read but that is
// valid UTF-8 (in the "C" locale, before a program sets its own) is read as
// UTF-8; other unreadable bytes become '?'.
std::string LocaleToCp1251(std::string_view text);

// Upper-cases a to z only; every other byte (Cyrillic included) stays.
std::string AsciiUpper(std::string_view text);
// Upper-cases Latin and Cyrillic letters of Windows-1251 alike.
std::string Cp1251Upper(std::string_view text);

// A blank or a control character: a byte up to 0x20.
inline bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= 0x20; }

// Removes blanks and control characters (bytes up to 0x20) from both ends.
std::string Trim(std::string_view text);

namespace detail {
constexpr std::array<std::int8_t, 256> MakeHexDigitTable() {
  std::array<std::int8_t, 256> table{};
  for (auto& value : table) value = -1;
  for (int i = 0; i < 10; ++i) table['0' + i] = static_cast<std::int8_t>(i);
  for (int i = 0; i < 6; ++i) {
    table['A' + i] = static_cast<std::int8_t>(10 + i);
    table['a' + i] = static_cast<std::int8_t>(10 + i);
  }
  return table;
}
inline constexpr std::array<std::int8_t, 256> kHexDigitValue = MakeHexDigitTable();
}  // namespace detail

// The value of a hexadecimal digit of either letter case; -1 for any other
// byte.
inline int HexDigitValue(char c) { return detail::kHexDigitValue[static_cast<unsigned char>(c)]; }

// The lowest `digits` hexadecimal digits of value, upper case, with leading
// zeros: what the device's commands and the HEX grid write.
inline std::string HexDigits(std::uint32_t value, int digits) {
  constexpr char kUpper[] = "0123456789ABCDEF";
  std::string text;
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) text += kUpper[(value >> shift) & 0xF];
  return text;
}

inline bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// A decimal integer with an optional sign that fits in 32 bits; nothing else.
std::optional<std::int32_t> ParseInt32(std::string_view text);
inline std::int32_t ParseInt32Or(std::string_view text, std::int32_t fallback) {
  return ParseInt32(text).value_or(fallback);
}

// Splits at every separator; two adjacent separators give an empty item,
// and a text without one is a single item.
std::vector<std::string_view> Split(std::string_view text, char separator);

// Splits at CR LF, a lone CR or a lone LF; a line end after the last line
// adds no empty line.
std::vector<std::string> SplitLines(std::string_view text);

// One line of a log shows a whole reply: a CR becomes "<CR>" and a LF
// "<LF>", so what the device sent stays readable on one line.
std::string MarkLineBreaks(std::string_view text);

// Local date in the locale's short date format, then, unless the time of day
// is exactly midnight, a blank and the time in the locale's long time format.
std::string FormatLocalDateTime(std::chrono::system_clock::time_point when);

// Local date and time as ISO 8601 with milliseconds and the offset from UTC
// in force then, "2026-03-29T02:30:05.120+03:00": one form whatever the
// locale, so lines from several runs, ports and machines sort and compare.
std::string FormatIsoDateTime(std::chrono::system_clock::time_point when);

}  // namespace tarvik
