#pragma once
// The parsed form of every version text of the system: device version lines,
// catalogue lines and image headers. Numeric versions read
// "VER 14.003.037" (major, type number, build); family versions read
// "VER QTT1.001.002" (family code and two numbers).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "firmware/devicetypes.h"

namespace tarvik {

// Every text field of a version, and a device type's display name, holds at
// most this many characters; longer values are cut.
inline constexpr std::size_t kMaxVersionTextLength = 255;

struct FirmwareVersion {
  std::int32_t Major = -1;
  std::int32_t TypeNumber = -1;
  std::int32_t Build = -1;
  std::string VersionText;  // canonical form, "VER 14.001.042" or "VER QTT1.001.002"
  std::string TypeCode;     // "14.003.000": key of the update rules; empty for a family version
  std::string Suffix;       // fourth and further dot groups, each followed by "."
  std::string FamilyCode;
  std::int32_t FamilyMajor = -1;
  std::int32_t FamilyMinor = -1;

  bool operator==(const FirmwareVersion&) const = default;
};

// Never fails: whatever cannot be read stays -1 or empty.
FirmwareVersion ParseVersion(std::string_view text);

// "VER " + family code + the two family numbers of at least three digits.
std::string FamilyVersionText(const FirmwareVersion& version);

// Identification's test for a bootloader's banner: "BootLdr", exactly as the
// bootloader writes it.
bool IsBootloaderBanner(std::string_view line);
// The looser test of what only may come from a bootloader ("BOOT" in any
// letter case): a probe's answer that is worth connecting to, and a version
// line shown as the image's type instead.
bool LooksLikeBootloaderAnswer(std::string_view text);

// The family code of a device type occurs in the text (case-sensitive).
bool HasFamilyCode(std::string_view text);
// Keeps only the digits and dots.
std::string KeepVersionChars(std::string_view text);

}  // namespace tarvik
