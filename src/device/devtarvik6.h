#pragma once
// The device's command vocabulary on top of the port worker: framing, the
// terminator, attempts and time-out of each kind of command, and the version
// and unit-name queries that identification rests on.
#include <cstdint>
#include <string>
#include <string_view>

#include "firmware/devicetypes.h"

namespace tarvik {

class TComPortWorker;

// "+" + name + CR; no line feed.
std::string FrameCommand(std::string_view name);

// The value between the first ":" and the first "OK" of a reply, trimmed;
// the whole reply when it has no ":"; empty when it has no "OK".
std::string ParseValue(std::string_view reply);

enum class VersionReplyKind { None, Version, Family, Bootloader };

struct VersionReplyClass {
  VersionReplyKind kind = VersionReplyKind::None;
  std::string line;              // the first non-empty line, or the whole reply for a bootloader banner
  std::int32_t familyIndex = 0;  // the family code's search rank (kDeviceTypes) for a family reply
};

// How a version reply is read: a "VER" reply, a family line, a bootloader
// banner, or nothing the tool knows.
VersionReplyClass ClassifyVersionReply(std::string_view reply);

class TDevTarvik6 {
 public:
  explicit TDevTarvik6(TComPortWorker* worker) : Worker(worker) {}

  bool Command(std::string_view name, std::string& reply, bool log);
  bool SlowCommand(std::string_view name, std::string& reply, bool log);
  bool WriteCommand(std::string_view command, std::string& reply, bool log);
  bool Query(std::string_view name, std::string& reply);
  bool QueryValue(std::string_view name, std::string& value);
  bool QueryRaw(std::string_view name, std::string& reply);

  bool ReadVersion(std::string& reply);
  bool MatchFamily(std::string_view text);
  bool ReadUnitName(std::string& value);

  std::int32_t FamilyFlag = 0;
  std::int32_t FamilyIndex = 0;
  // Those of the identified type (the controller sets them), the defaults
  // before.
  DeviceTimings Timings;
  TComPortWorker* Worker;
  std::string VersionText;

 private:
  bool Send(std::string_view name, std::string& reply, std::string_view terminator, std::int32_t attempts,
            std::int32_t timeoutMs, bool log);
};

}  // namespace tarvik
