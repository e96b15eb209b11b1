#pragma once
// What identification worked out about the connected device, once. Every
// later step (the decision, the reflash window, both reflash procedures, the
// command line) reads this value instead of looking at the version line
// again.
#include <cstdint>
#include <string>
#include <utility>

#include "firmware/devicetypes.h"
#include "firmware/firmwareversion.h"

namespace tarvik {

struct DeviceIdentity {
  // The line the decision and the windows work on: the device's "VER" or
  // family line, the default "VER" line of the model its bootloader named,
  // or the bootloader's banner when it named no model the tool knows.
  std::string VersionLine;
  // VersionLine, parsed.
  FirmwareVersion Version;
  // It answered with its bootloader's banner.
  bool AnsweredFromBootloader = false;
  // ... and its unit name told a model the tool knows, whose default line
  // VersionLine now holds.
  bool ModelNamed = false;
  // What the bootloader calls itself ("un"); empty for a device in its
  // firmware.
  std::string UnitName;
  // From a numeric "VER" line: characters 8 to 10 and 12 to 14.
  std::int32_t TypeNumber = 0;
  std::int32_t Build = 0;
  // From a family line: its first two groups of three digits.
  std::int32_t FamilyMajor = 0;
  std::int32_t FamilyMinor = 0;
  // Which device type this is, as a type number of kDeviceTypes; 0 while
  // unknown. Identification sets it from a numeric line, a family line or
  // the model the bootloader named; the decision from the type the user
  // chose for a device in its bootloader.
  std::int32_t ResolvedType = 0;

  // The row of the resolved type; null while unknown.
  const DeviceTypeRow* TypeRow() const { return DeviceTypeByNumber(ResolvedType); }

  // In its bootloader and known by the banner alone: it needs no "BL", the
  // user chooses its type, and a reflash once begun may not be left. A
  // device whose bootloader named its model is flashed like one in its
  // firmware.
  bool InBootloader() const { return AnsweredFromBootloader && !ModelNamed; }

  // How new firmware reaches it: a device that answered from its bootloader
  // knows only the bootloader's commands; one running its firmware takes its
  // type's procedure, and an unknown type the bootloader's.
  FlashProcedure Procedure() const {
    const DeviceTypeRow* row = TypeRow();
    if (AnsweredFromBootloader || row == nullptr) return FlashProcedure::Bootloader;
    return row->procedure;
  }

  // A device known by this line alone, as identification first takes it.
  static DeviceIdentity FromVersionLine(std::string line) {
    DeviceIdentity identity;
    identity.AnsweredFromBootloader = IsBootloaderBanner(line);
    identity.Version = ParseVersion(line);
    identity.VersionLine = std::move(line);
    return identity;
  }
};

}  // namespace tarvik
