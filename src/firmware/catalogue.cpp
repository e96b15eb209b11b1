#include "firmware/catalogue.h"

#include <map>

#include "common/text.h"

namespace tarvik {
namespace {

std::string Cut(std::string_view text) { return std::string(text.substr(0, kMaxVersionTextLength)); }

DeviceType TypeOfRow(const DeviceTypeRow& row) {
  DeviceType type;
  type.DisplayName = Cut(Utf8ToCp1251(row.displayName));
  // The two lines as one version text, "14.002.000;QTT1.000.000", which
  // ParseVersion reads as a numeric version with its family.
  const std::string text = std::string(row.versionLine) + ";" + std::string(row.familyLine);
  type.Version = ParseVersion(std::string_view(text).substr(0, kMaxVersionTextLength));
  return type;
}

std::string TypeFaultText(const DeviceTypeFault& fault) {
  std::string rows = "device type " + std::to_string(fault.typeNumber);
  if (fault.otherType != 0)
    rows = "device types " + std::to_string(fault.typeNumber) + " and " + std::to_string(fault.otherType);
  return "The table of device types is at fault: " + rows + ": " + std::string(fault.what);
}

// The images by number, checked to run from 1 without a gap.
std::vector<std::string_view> NumberedImages(const std::vector<EmbeddedResource>& resources) {
  std::map<int, std::string_view> byNumber;
  for (const EmbeddedResource& r : resources) {
    if (!r.Name.empty()) continue;
    if (r.Number <= 0)
      throw CatalogueError("An embedded firmware image has the number " + std::to_string(r.Number));
    if (!byNumber.emplace(r.Number, r.Data).second)
      throw CatalogueError("The embedded firmware image " + std::to_string(r.Number) + " is there twice");
  }
  std::vector<std::string_view> images;
  for (const auto& [number, data] : byNumber) {
    const int expected = static_cast<int>(images.size()) + 1;
    if (number != expected) {
      throw CatalogueError("The embedded firmware image " + std::to_string(expected) +
                           " is missing (the images go on with " + std::to_string(number) + ")");
    }
    images.push_back(data);
  }
  if (images.empty()) throw CatalogueError("The embedded firmware image 1 is missing");
  return images;
}

}  // namespace

CatalogueSource EmbeddedCatalogueSource() {
  CatalogueSource source;
  for (const DeviceTypeRow& row : kDeviceTypes) {
    if (row.listed) source.Types.push_back(row);
  }
  const std::span<const EmbeddedResource> resources = EmbeddedResources();
  source.Resources.assign(resources.begin(), resources.end());
  return source;
}

void FirmwareCatalogue::LoadCatalogue(const CatalogueSource& source) {
  if (const DeviceTypeFault fault = CheckDeviceTypes(source.Types); !fault.what.empty())
    throw CatalogueError(TypeFaultText(fault));

  std::vector<DeviceType> types;
  types.reserve(source.Types.size());
  for (const DeviceTypeRow& row : source.Types) types.push_back(TypeOfRow(row));

  std::vector<FirmwareVersion> images;
  std::vector<std::vector<std::string>> lines;
  for (std::string_view image : NumberedImages(source.Resources)) {
    std::vector<std::string> imageLines = SplitLines(image);
    images.push_back(
        ParseVersion(imageLines.empty() ? std::string_view{} : std::string_view(imageLines.front())));
    lines.push_back(std::move(imageLines));
  }

  deviceTypes_ = std::move(types);
  firmwareImages_ = std::move(images);
  imageLines_ = std::move(lines);
}

}  // namespace tarvik
