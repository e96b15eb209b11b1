#include "common/text.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <cwchar>
#include <mutex>

namespace tarvik {
namespace {

// Unicode code points of Windows-1251 bytes 0x80..0xBF; 0xC0..0xFF map to
// U+0410..U+044F. 0x98 is unassigned.
constexpr std::array<char16_t, 64> kHigh = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0xFFFD, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457};

char32_t ToUnicode(unsigned char b) {
  if (b < 0x80) return b;
  if (b >= 0xC0) return static_cast<char32_t>(0x0410 + (b - 0xC0));
  return kHigh[b - 0x80];
}

int FromUnicode(char32_t cp) {
  if (cp < 0x80) return static_cast<int>(cp);
  if (cp >= 0x0410 && cp <= 0x044F) return static_cast<int>(0xC0 + (cp - 0x0410));
  for (std::size_t i = 0; i < kHigh.size(); ++i) {
    if (kHigh[i] == cp && cp != 0xFFFD) return static_cast<int>(0x80 + i);
  }
  return -1;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool IsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    std::size_t extra = 0;
    if (b < 0x80) {
      extra = 0;
    } else if (b >= 0xC2 && b <= 0xDF) {
      extra = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
      extra = 2;
    } else if (b >= 0xF0 && b <= 0xF4) {
      extra = 3;
    } else {
      return false;
    }
    if (extra > 0 && i + extra >= text.size()) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += extra + 1;
  }
  return true;
}

// The standard calls share one result between threads on some systems;
// log lines are stamped on several threads, so take turns and copy it.
std::mutex timeMutex;

std::tm LocalTime(std::time_t t) {
  std::tm out{};
  std::lock_guard lock(timeMutex);
  if (const std::tm* shared = std::localtime(&t)) out = *shared;
  return out;
}

std::tm UtcTime(std::time_t t) {
  std::tm out{};
  std::lock_guard lock(timeMutex);
  if (const std::tm* shared = std::gmtime(&t)) out = *shared;
  return out;
}

// Seconds from 1970-01-01 to the date and time the fields name, read as if
// they were UTC (days from the civil date, proleptic Gregorian).
std::int64_t SecondsOfFields(const std::tm& tm) {
  const std::int64_t month = tm.tm_mon + 1;
  const std::int64_t year = tm.tm_year + 1900 - (month <= 2 ? 1 : 0);
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + tm.tm_mday - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const std::int64_t days = era * 146097 + dayOfEra - 719468;
  return days * 86400 + tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec;
}

}  // namespace

std::string LocaleToCp1251(std::string_view text) {
  std::string utf8;
  utf8.reserve(text.size());
  std::mbstate_t state{};
  std::size_t i = 0;
  while (i < text.size()) {
    wchar_t wide = 0;
    std::size_t used = std::mbrtowc(&wide, text.data() + i, text.size() - i, &state);
    if (used == static_cast<std::size_t>(-1) || used == static_cast<std::size_t>(-2)) {
      if (IsValidUtf8(text)) return Utf8ToCp1251(text);
      utf8 += '?';
      state = std::mbstate_t{};
      ++i;
      continue;
    }
    if (used == 0) used = 1;  // a NUL byte
    const auto cp = static_cast<char32_t>(wide);
    // Outside the basic plane has no Windows-1251 form anyway.
    AppendUtf8(utf8, cp > 0xFFFF ? U'?' : cp);
    i += used;
  }
  return Utf8ToCp1251(utf8);
}

std::string Cp1251ToUtf8(std::string_view cp1251) {
  std::string out;
  out.reserve(cp1251.size() * 2);
  for (char c : cp1251) AppendUtf8(out, ToUnicode(static_cast<unsigned char>(c)));
  return out;
}

std::string Utf8ToCp1251(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    char32_t cp = 0;
    std::size_t len = 0;
    if (lead < 0x80) {
      cp = lead;
      len = 1;
    } else if ((lead & 0xE0) == 0xC0) {
      cp = lead & 0x1Fu;
      len = 2;
    } else if ((lead & 0xF0) == 0xE0) {
      cp = lead & 0x0Fu;
      len = 3;
    } else if ((lead & 0xF8) == 0xF0) {
      cp = lead & 0x07u;
      len = 4;
    } else {
      out += '?';
      ++i;
      continue;
    }
    bool ok = i + len <= utf8.size();
    for (std::size_t k = 1; ok && k < len; ++k) {
      const auto cont = static_cast<unsigned char>(utf8[i + k]);
      if ((cont & 0xC0) != 0x80) {
        ok = false;
      } else {
        cp = (cp << 6) | (cont & 0x3Fu);
      }
    }
    if (!ok) {
      out += '?';
      ++i;
      continue;
    }
    const int b = FromUnicode(cp);
    out += b < 0 ? '?' : static_cast<char>(b);
    i += len;
  }
  return out;
}

std::string AsciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string Cp1251Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 'a' && b <= 'z') {
      c = static_cast<char>(b - 'a' + 'A');
    } else if (b >= 0xE0) {
      c = static_cast<char>(b - 0x20);
    } else if (b == 0xB8) {  // ё
      c = static_cast<char>(0xA8);
    }
  }
  return out;
}

std::string Trim(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlankOrControl(text[begin])) ++begin;
  while (end > begin && IsBlankOrControl(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

std::optional<std::int32_t> ParseInt32(std::string_view text) {
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) return std::nullopt;
  }
  if (text.empty()) return std::nullopt;
  std::int32_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value, 10);
  if (ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> items;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = text.find(separator, start);
    if (at == std::string_view::npos) {
      items.push_back(text.substr(start));
      return items;
    }
    items.push_back(text.substr(start, at - start));
    start = at + 1;
  }
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.emplace_back(text.substr(start, i - start));
      i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
      start = i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

std::string MarkLineBreaks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\r') {
      out += "<CR>";
    } else if (c == '\n') {
      out += "<LF>";
    } else {
      out += c;
    }
  }
  return out;
}

std::string FormatLocalDateTime(std::chrono::system_clock::time_point when) {
  const std::tm local = LocalTime(std::chrono::system_clock::to_time_t(when));
  char buf[128];
  std::string out;
  if (std::strftime(buf, sizeof buf, "%x", &local) > 0) out = buf;
  if (local.tm_hour != 0 || local.tm_min != 0 || local.tm_sec != 0) {
    if (std::strftime(buf, sizeof buf, "%X", &local) > 0) {
      out += ' ';
      out += buf;
    }
  }
  return out;
}

std::string FormatIsoDateTime(std::chrono::system_clock::time_point when) {
  const auto seconds = std::chrono::floor<std::chrono::seconds>(when);
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(when - seconds).count();
  const std::time_t t = std::chrono::system_clock::to_time_t(seconds);
  const std::tm local = LocalTime(t);
  // The offset is what the local fields gain over UTC's: no call of the
  // standard library gives it the same way on every system (%z names the
  // zone on Windows).
  const std::int64_t offset = SecondsOfFields(local) - SecondsOfFields(UtcTime(t));
  const std::int64_t offsetMinutes = (offset < 0 ? -offset : offset) / 60;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(millis), offset < 0 ? '-' : '+', static_cast<int>(offsetMinutes / 60),
                static_cast<int>(offsetMinutes % 60));
  return buf;
}

}  // namespace tarvik
