// The version reply classification and the value cutting: whatever a device
// sends back must be read without a crash or a hang.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "device/devtarvik6.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view reply(reinterpret_cast<const char*>(data), size);
  const auto cls = tarvik::ClassifyVersionReply(reply);
  if (cls.kind == tarvik::VersionReplyKind::Family && cls.familyIndex == 0) __builtin_trap();
  if (cls.line.size() > reply.size()) __builtin_trap();
  (void)tarvik::ParseValue(reply);
  return 0;
}
