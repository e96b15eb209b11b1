#pragma once
// The device types and firmware images that the tool knows, built once at
// start from the table of device types and the images that travel inside the
// program, and read-only after.
#include <stdexcept>
#include <string>
#include <vector>

#include "common/resources.h"
#include "firmware/devicetypes.h"
#include "firmware/firmwareversion.h"

namespace tarvik {

class CatalogueError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct DeviceType {
  FirmwareVersion Version;  // parsed from its row's version and family lines
  std::string DisplayName;  // model code, a blank and a description (Windows-1251)

  bool operator==(const DeviceType&) const = default;
};

// What a catalogue is made of: the device types in the order the
// device-type choice lists them, and the resources whose numbered ones are
// the images (image n is the resource numbered n; named ones are not
// images). The views need to live only until LoadCatalogue returns.
struct CatalogueSource {
  std::vector<DeviceTypeRow> Types;
  std::vector<EmbeddedResource> Resources;
};

// The listed rows of kDeviceTypes and the images compiled into the program
// (common/resources.h).
CatalogueSource EmbeddedCatalogueSource();

class FirmwareCatalogue {
 public:
  // Replaces the contents with the catalogue of the source. Throws
  // CatalogueError when the types contradict each other (CheckDeviceTypes)
  // or the images are not numbered 1, 2, ... without a gap; the catalogue is
  // then left as it was.
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
