#pragma once
// Catalogue questions besides the update rules: is a version a known device
// type, which images belong to its type, what images and types are called,
// and what the reflash window shows once an image is chosen. All texts are
// Windows-1251.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/catalogue.h"

namespace tarvik {

// The first device type with the version's major and type number; -1 if
// none.
int FindDeviceType(const FirmwareCatalogue& catalogue, const FirmwareVersion& version);
// The display name of that device type; empty if none.
std::string DeviceTypeName(const FirmwareCatalogue& catalogue, const FirmwareVersion& version);

// Supported when a device type has the version's major and type number;
// notRelease then tells whether that type carries a suffix. Without a match
// notRelease is left as it was.
bool IsVersionSupported(const FirmwareCatalogue& catalogue, std::string_view versionText, bool& notRelease);
bool IsVersionSupported(const FirmwareCatalogue& catalogue, const FirmwareVersion& version, bool& notRelease);

// The VersionText of the device type; empty for an index outside the list.
std::string TypeVersionText(const FirmwareCatalogue& catalogue, int typeIndex);
// Build 0 of the device type as a numeric version line, "VER 14.002.000",
// whose TypeCode keys the update rules, also for a type whose line names a
// firmware family (and so parses as a family version without a TypeCode);
// empty for an index outside the list or a type without numbers.
std::string TypeBuildZeroText(const FirmwareCatalogue& catalogue, int typeIndex);

struct ImageChoice {
  std::string Text;  // the image's version text
  int ImageIndex;    // into FirmwareImages and ImageLines

  bool operator==(const ImageChoice&) const = default;
};

// The images of the version's major and type, numeric and family images
// together, in catalogue order: the lines of the preferred-firmware list.
std::vector<ImageChoice> ListImagesForVersion(const FirmwareCatalogue& catalogue,
                                              std::string_view versionText);
std::vector<ImageChoice> ListImagesForVersion(const FirmwareCatalogue& catalogue,
                                              const FirmwareVersion& version);

// The version text of every image in catalogue order.
std::vector<std::string> ListImageVersions(const FirmwareCatalogue& catalogue);

// The display name of the last device type whose VersionText contains the
// image's TypeCode; empty when none does (every family image) or the index is
// outside the list.
std::string TypeNameForImage(const FirmwareCatalogue& catalogue, int imageIndex);

// The display names of all device types in catalogue order: the lines of the
// device-type choice.
std::vector<std::string> DeviceTypeNames(const FirmwareCatalogue& catalogue);

// "Текущая версия прошивки :" (the blank before the colon belongs to it).
std::string CurrentVersionLabelText();

// What the reflash window shows after an image has been chosen for flashing.
struct ReflashSelection {
  int SelectedImage = 0;
  // The device's current version and the chosen image's are shown exactly
  // when the version-choice group is hidden.
  bool NamesVisible = false;
  // The device's current version; empty optional: the window keeps what it
  // shows (no controller).
  std::optional<std::string> OldName;
  std::string NewName;              // the image's version text
  std::string Caption;              // the window caption: TypeNameForImage
  std::string CurrentVersionLabel;  // the heading over the current version
  bool HideDevicePictures = true;   // the main window's device pictures
  int ProgressComplete = 0;         // the reflash progress bar's parts complete

  bool operator==(const ReflashSelection&) const = default;
};

// versionLine is the controller's VersionLine, or empty optional when the
// main window has no controller. A line that still holds the bootloader
// banner ("BOOT" in any letter case) is shown as "VER " + the image's
// TypeCode. An index outside the catalogue gives empty image texts.
ReflashSelection SelectImage(const FirmwareCatalogue& catalogue, int imageIndex,
                             const std::optional<std::string>& versionLine, bool versionGroupHidden);

}  // namespace tarvik
