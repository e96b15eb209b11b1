// ParseVersion on arbitrary text: it must never fail, and no text field may
// exceed its length limit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "firmware/firmwareversion.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const tarvik::FirmwareVersion v = tarvik::ParseVersion(text);
  for (const std::string* field : {&v.VersionText, &v.TypeCode, &v.Suffix, &v.FamilyCode}) {
    if (field->size() > tarvik::kMaxVersionTextLength) std::abort();
  }
  // Only a numeric part sets a build, and it always sets a type code.
  if (v.TypeCode.empty() && v.Build != -1) std::abort();
  // A family part always leaves a major number.
  if (!v.FamilyCode.empty() && v.TypeCode.empty() && v.Major != 14) std::abort();
  return 0;
}
