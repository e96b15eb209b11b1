#include "firmware/selection.h"

#include <cstdio>

#include "common/text.h"

namespace tarvik {
namespace {

template <typename T>
const T* At(const std::vector<T>& items, int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= items.size()) return nullptr;
  return &items[static_cast<std::size_t>(index)];
}

}  // namespace

int FindDeviceType(const FirmwareCatalogue& catalogue, const FirmwareVersion& version) {
  const std::vector<DeviceType>& types = catalogue.DeviceTypes();
  for (std::size_t i = 0; i < types.size(); ++i) {
    if (types[i].Version.Major == version.Major && types[i].Version.TypeNumber == version.TypeNumber) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

std::string DeviceTypeName(const FirmwareCatalogue& catalogue, const FirmwareVersion& version) {
  const DeviceType* type = At(catalogue.DeviceTypes(), FindDeviceType(catalogue, version));
  return type != nullptr ? type->DisplayName : std::string();
}

bool IsVersionSupported(const FirmwareCatalogue& catalogue, std::string_view versionText, bool& notRelease) {
  return IsVersionSupported(catalogue, ParseVersion(versionText), notRelease);
}

bool IsVersionSupported(const FirmwareCatalogue& catalogue, const FirmwareVersion& version,
                        bool& notRelease) {
  const DeviceType* type = At(catalogue.DeviceTypes(), FindDeviceType(catalogue, version));
  if (type == nullptr) return false;
  notRelease = !type->Version.Suffix.empty();
  return true;
}

std::string TypeVersionText(const FirmwareCatalogue& catalogue, int typeIndex) {
  const DeviceType* type = At(catalogue.DeviceTypes(), typeIndex);
  return type != nullptr ? type->Version.VersionText : std::string();
}

std::string TypeBuildZeroText(const FirmwareCatalogue& catalogue, int typeIndex) {
  const DeviceType* type = At(catalogue.DeviceTypes(), typeIndex);
  if (type == nullptr || type->Version.Major < 0 || type->Version.TypeNumber < 0) return {};
  char text[32];
  std::snprintf(text, sizeof text, "VER %02d.%03d.000", static_cast<int>(type->Version.Major),
                static_cast<int>(type->Version.TypeNumber));
  return text;
}

std::vector<ImageChoice> ListImagesForVersion(const FirmwareCatalogue& catalogue,
                                              std::string_view versionText) {
  return ListImagesForVersion(catalogue, ParseVersion(versionText));
}

std::vector<ImageChoice> ListImagesForVersion(const FirmwareCatalogue& catalogue, const FirmwareVersion& v) {
  std::vector<ImageChoice> choices;
  const std::vector<FirmwareVersion>& images = catalogue.FirmwareImages();
  for (std::size_t i = 0; i < images.size(); ++i) {
    const FirmwareVersion& image = images[i];
    if (image.Major != v.Major || image.TypeNumber != v.TypeNumber) continue;
    choices.push_back(
        {image.VersionText.empty() ? FamilyVersionText(image) : image.VersionText, static_cast<int>(i)});
  }
  return choices;
}

std::vector<std::string> ListImageVersions(const FirmwareCatalogue& catalogue) {
  std::vector<std::string> lines;
  lines.reserve(catalogue.FirmwareImages().size());
  for (const FirmwareVersion& image : catalogue.FirmwareImages()) lines.push_back(image.VersionText);
  return lines;
}

std::string TypeNameForImage(const FirmwareCatalogue& catalogue, int imageIndex) {
  const FirmwareVersion* image = At(catalogue.FirmwareImages(), imageIndex);
  std::string name;
  if (image == nullptr || image->TypeCode.empty()) return name;
  for (const DeviceType& type : catalogue.DeviceTypes()) {
    if (Contains(type.Version.VersionText, image->TypeCode)) name = type.DisplayName;
  }
  return name;
}

std::vector<std::string> DeviceTypeNames(const FirmwareCatalogue& catalogue) {
  std::vector<std::string> names;
  names.reserve(catalogue.DeviceTypes().size());
  for (const DeviceType& type : catalogue.DeviceTypes()) names.push_back(type.DisplayName);
  return names;
}

std::string CurrentVersionLabelText() { return Utf8ToCp1251("Текущая версия прошивки :"); }

ReflashSelection SelectImage(const FirmwareCatalogue& catalogue, int imageIndex,
                             const std::optional<std::string>& versionLine, bool versionGroupHidden) {
  const FirmwareVersion* image = At(catalogue.FirmwareImages(), imageIndex);
  ReflashSelection s;
  s.NamesVisible = versionGroupHidden;
  s.OldName = versionLine;
  s.SelectedImage = imageIndex;
  s.Caption = TypeNameForImage(catalogue, imageIndex);
  s.CurrentVersionLabel = CurrentVersionLabelText();
  s.HideDevicePictures = true;
  if (image != nullptr) s.NewName = image->VersionText;
  if (versionLine && LooksLikeBootloaderAnswer(*versionLine)) {
    s.OldName = "VER " + (image != nullptr ? image->TypeCode : std::string());
  }
  s.ProgressComplete = 0;
  return s;
}

}  // namespace tarvik
