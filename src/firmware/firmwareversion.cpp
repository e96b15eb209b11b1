#include "firmware/firmwareversion.h"

#include <utility>
#include <vector>

#include "common/text.h"

namespace tarvik {
namespace {

// printf's "%.<digits>d": at least that many digits, the sign in front.
std::string Padded(std::int32_t value, std::size_t digits) {
  const std::int64_t wide = value;
  std::string text = std::to_string(wide < 0 ? -wide : wide);
  if (text.size() < digits) text.insert(0, digits - text.size(), '0');
  return wide < 0 ? "-" + text : text;
}

// A run of dots, blanks and control characters separates two items; no item
// is empty.
std::vector<std::string_view> SplitFamilyItems(std::string_view text) {
  std::vector<std::string_view> items;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == '.' || IsBlankOrControl(text[i]))) ++i;
    const std::size_t start = i;
    while (i < text.size() && text[i] != '.' && !IsBlankOrControl(text[i])) ++i;
    if (i > start) items.push_back(text.substr(start, i - start));
  }
  return items;
}

bool IsVer(std::string_view text, std::size_t at) {
  if (at + 3 > text.size()) return false;
  return (text[at] | 0x20) == 'v' && (text[at + 1] | 0x20) == 'e' && (text[at + 2] | 0x20) == 'r';
}

// One left-to-right pass, like a replace-all: the result is not searched
// again, so "VVERER" leaves "VER".
std::string RemoveVerAnyCase(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (IsVer(text, i)) {
      i += 3;
    } else {
      out += text[i++];
    }
  }
  return out;
}

void Cut(std::string& text) {
  if (text.size() > kMaxVersionTextLength) text.resize(kMaxVersionTextLength);
}

void ParseNumericPart(std::string_view part, FirmwareVersion& v) {
  const std::string digits = KeepVersionChars(part);
  const std::vector<std::string_view> items = Split(digits, '.');
  if (items.size() >= 3) {
    v.Major = ParseInt32Or(items[0], -1);
    v.TypeNumber = ParseInt32Or(items[1], -1);
    v.Build = ParseInt32Or(items[2], -1);
    for (std::size_t i = 3; i < items.size(); ++i) {
      v.Suffix.append(items[i]);
      v.Suffix += '.';
    }
  }
  v.VersionText =
      "VER " + Padded(v.Major, 2) + "." + Padded(v.TypeNumber, 3) + "." + Padded(v.Build, 3) + v.Suffix;
  v.TypeCode = Padded(v.Major, 2) + "." + Padded(v.TypeNumber, 3) + ".000";
  v.FamilyCode = std::string(FamilyCodeOfType(v.TypeNumber));
}

void ParseFamilyPart(std::string_view part, FirmwareVersion& v) {
  std::string text(part);
  if (Contains(text, "VER")) text = Trim(RemoveVerAnyCase(text));
  const std::vector<std::string_view> items = SplitFamilyItems(text);
  if (items.size() >= 3) {
    v.FamilyCode = std::string(items[0]);
    v.FamilyMajor = ParseInt32Or(items[1], -1);
    v.FamilyMinor = ParseInt32Or(items[2], -1);
  }
  if (v.Major == -1) v.Major = 14;
  if (v.TypeNumber == -1) v.TypeNumber = TypeOfFamilyCode(v.FamilyCode);
  v.VersionText = FamilyVersionText(v);
}

}  // namespace

bool HasFamilyCode(std::string_view text) { return FindFamilyCode(text) != 0; }

std::string FamilyVersionText(const FirmwareVersion& v) {
  return "VER " + v.FamilyCode + "." + Padded(v.FamilyMajor, 3) + "." + Padded(v.FamilyMinor, 3);
}

std::string KeepVersionChars(std::string_view text) {
  std::string out;
  for (char c : text) {
    if ((c >= '0' && c <= '9') || c == '.') out += c;
  }
  return out;
}

bool IsBootloaderBanner(std::string_view line) { return Contains(line, "BootLdr"); }

bool LooksLikeBootloaderAnswer(std::string_view text) { return Contains(Cp1251Upper(text), "BOOT"); }

FirmwareVersion ParseVersion(std::string_view text) {
  FirmwareVersion v;
  std::string_view numeric;
  std::string_view family;
  if (const std::size_t semicolon = text.find(';'); semicolon != std::string_view::npos) {
    numeric = text.substr(0, semicolon + 1);
    family = text.substr(semicolon + 1);
  } else if (HasFamilyCode(text)) {
    family = text;
  } else {
    numeric = text;
  }
  if (!numeric.empty()) ParseNumericPart(numeric, v);
  if (!family.empty()) ParseFamilyPart(family, v);
  Cut(v.VersionText);
  Cut(v.TypeCode);
  Cut(v.Suffix);
  Cut(v.FamilyCode);
  return v;
}

}  // namespace tarvik
