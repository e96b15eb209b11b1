#include "firmware/catalogue.h"

#include <algorithm>
#include <cstdint>

#include "common/resources.h"
#include "common/text.h"

namespace tarvik {
namespace {

constexpr std::string_view kCountName = "SensorCount";
constexpr std::string_view kNamesName = "SensorNames";

std::string_view Require(const std::optional<std::string_view>& data, const std::string& what) {
  if (!data) throw CatalogueError("The embedded " + what + " is missing");
  return *data;
}

std::int32_t CountAt(const std::vector<std::string>& lines, std::size_t index) {
  if (index >= lines.size()) return 0;
  return std::max<std::int32_t>(0, ParseInt32Or(lines[index], 0));
}

std::string Cut(std::string_view text) { return std::string(text.substr(0, kMaxVersionTextLength)); }

DeviceType ParseTypeLine(std::string_view line) {
  DeviceType type;
  const std::size_t semicolon = line.find(';');
  if (semicolon == std::string_view::npos) {
    // A line without fields names a type with no version.
    type.DisplayName = Cut(line);
    type.Version = ParseVersion({});
  } else {
    type.DisplayName = Cut(line.substr(0, semicolon));
    type.Version = ParseVersion(line.substr(semicolon + 1, kMaxVersionTextLength));
  }
  return type;
}

}  // namespace

CatalogueSource EmbeddedCatalogueSource() {
  return CatalogueSource{
      [](std::string_view name) { return FindResource(name); },
      [](int number) { return FindResource(number); },
  };
}

void FirmwareCatalogue::LoadCatalogue(const CatalogueSource& source) {
  if (!source.FindByName || !source.FindByNumber) throw CatalogueError("The catalogue has no source");

  const std::vector<std::string> counts =
      SplitLines(Require(source.FindByName(kCountName), "file " + std::string(kCountName)));
  const std::int32_t typeCount = CountAt(counts, 0);
  const std::int32_t imageCount = CountAt(counts, 1);

  const std::vector<std::string> names =
      SplitLines(Require(source.FindByName(kNamesName), "file " + std::string(kNamesName)));
  if (static_cast<std::size_t>(typeCount) > names.size()) {
    throw CatalogueError("The embedded file " + std::string(kNamesName) + " holds " +
                         std::to_string(names.size()) + " device types, fewer than " +
                         std::to_string(typeCount));
  }

  std::vector<DeviceType> types;
  types.reserve(static_cast<std::size_t>(typeCount));
  for (std::int32_t i = 0; i < typeCount; ++i)
    types.push_back(ParseTypeLine(names[static_cast<std::size_t>(i)]));

  std::vector<FirmwareVersion> images;
  std::vector<std::vector<std::string>> lines;
  for (std::int32_t i = 0; i < imageCount; ++i) {
    const std::int32_t number = i + 1;
    std::vector<std::string> imageLines =
        SplitLines(Require(source.FindByNumber(number), "firmware image " + std::to_string(number)));
    images.push_back(
        ParseVersion(imageLines.empty() ? std::string_view{} : std::string_view(imageLines.front())));
    lines.push_back(std::move(imageLines));
  }

  deviceTypes_ = std::move(types);
  firmwareImages_ = std::move(images);
  imageLines_ = std::move(lines);
}

}  // namespace tarvik
