#pragma once
// The device types and firmware images that the tool knows, built once at
// start from the files that travel inside the program and read-only after.
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/firmwareversion.h"

namespace tarvik {

class CatalogueError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct DeviceType {
  FirmwareVersion Version;  // parsed from the numeric and family fields of its line
  std::string DisplayName;  // model code, a blank and a description

  bool operator==(const DeviceType&) const = default;
};

// Where the catalogue's files come from: the counts ("SensorCount") and the
// type lines ("SensorNames") by name, image n (1-based) by number. The
// returned views need to live only until LoadCatalogue returns.
struct CatalogueSource {
  std::function<std::optional<std::string_view>(std::string_view name)> FindByName;
  std::function<std::optional<std::string_view>(int number)> FindByNumber;
};

// The files compiled into the program (common/resources.h).
CatalogueSource EmbeddedCatalogueSource();

class FirmwareCatalogue {
 public:
  // Replaces the contents with the catalogue of the source. Throws
  // CatalogueError when a file is missing or the type count exceeds the type
  // lines; the catalogue is then left as it was.
  void LoadCatalogue(const CatalogueSource& source = EmbeddedCatalogueSource());

  const std::vector<DeviceType>& DeviceTypes() const { return deviceTypes_; }
  // Index i is image i + 1.
  const std::vector<FirmwareVersion>& FirmwareImages() const { return firmwareImages_; }
  // Per image its lines, the header first, then the records as stored.
  const std::vector<std::vector<std::string>>& ImageLines() const { return imageLines_; }

 private:
  std::vector<DeviceType> deviceTypes_;
  std::vector<FirmwareVersion> firmwareImages_;
  std::vector<std::vector<std::string>> imageLines_;
};

}  // namespace tarvik
