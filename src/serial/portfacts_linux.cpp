// Linux: the facts udev gathers from sysfs for the port's device and for the
// USB device above it; the stable name is one of the port's links in
// /dev/serial/by-id, which udev makes and names after those facts.
#include <libudev.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>

#include "common/text.h"
#include "serial/portfacts.h"
#include "serial/portlist.h"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kByIdFolder = "serial/by-id";

struct UdevFree {
  void operator()(udev* u) const { udev_unref(u); }
  void operator()(udev_device* d) const { udev_device_unref(d); }
};

// udev's texts are UTF-8 (from the device's own strings); a character that
// Windows-1251 lacks becomes a question mark.
std::string Attribute(udev_device* device, const char* name) {
  const char* value = udev_device_get_sysattr_value(device, name);
  return value == nullptr ? std::string() : Utf8ToCp1251(Trim(value));
}

std::optional<std::uint16_t> HexId(const std::string& text) {
  if (text.size() != 4) return std::nullopt;
  std::uint16_t id = 0;
  for (const char c : text) {
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
    if (digit < 0) return std::nullopt;
    id = static_cast<std::uint16_t>(id * 16 + digit);
  }
  return id;
}

void ReadUdev(const struct stat& node, const std::string& devRoot, SerialPortFacts& facts) {
  const std::unique_ptr<udev, UdevFree> context(udev_new());
  if (!context) return;
  const std::unique_ptr<udev_device, UdevFree> device(
      udev_device_new_from_devnum(context.get(), 'c', node.st_rdev));
  // A pseudo-terminal, or a device sysfs does not show.
  if (!device) return;
  const std::string byId = (fs::path(devRoot) / kByIdFolder).string() + "/";
  for (udev_list_entry* link = udev_device_get_devlinks_list_entry(device.get()); link != nullptr;
       link = udev_list_entry_get_next(link)) {
    const std::string path = udev_list_entry_get_name(link);
    if (path.starts_with(byId)) {
      facts.StableName = path;
      break;
    }
  }
  // Owned by the device it was found from.
  udev_device* usb = udev_device_get_parent_with_subsystem_devtype(device.get(), "usb", "usb_device");
  if (usb == nullptr) return;
  facts.VendorId = HexId(Attribute(usb, "idVendor"));
  facts.ProductId = HexId(Attribute(usb, "idProduct"));
  facts.Manufacturer = Attribute(usb, "manufacturer");
  facts.Product = Attribute(usb, "product");
  facts.SerialNumber = Attribute(usb, "serial");
}

// Without udev's database (a container, a system without udevd) the links
// are still there to be read.
std::string StableLinkTo(const fs::path& node, const std::string& devRoot) {
  std::error_code e;
  const fs::path target = fs::canonical(node, e);
  if (e) return {};
  std::string found;
  for (const auto& entry : fs::directory_iterator(fs::path(devRoot) / kByIdFolder, e)) {
    std::error_code linkError;
    if (fs::canonical(entry.path(), linkError) == target && !linkError) {
      // The first in name order, so the answer does not depend on the
      // folder's order.
      const std::string path = entry.path().string();
      if (found.empty() || path < found) found = path;
    }
  }
  return found;
}

}  // namespace

SerialPortFacts DescribeSerialPortIn(const std::string& name, const std::string& devRoot) {
  SerialPortFacts facts{.Name = name};
  const fs::path node = fs::path(devRoot) / name;
  struct stat status {};
  if (::stat(node.c_str(), &status) != 0 || !S_ISCHR(status.st_mode)) return facts;
  ReadUdev(status, devRoot, facts);
  if (facts.StableName.empty()) facts.StableName = StableLinkTo(node, devRoot);
  return facts;
}

SerialPortFacts DescribeSerialPort(const std::string& name) { return DescribeSerialPortIn(name, "/dev"); }

std::vector<SerialPortFacts> DescribeSerialPorts() {
  std::vector<SerialPortFacts> ports;
  for (const std::string& name : SystemSerialPorts()) ports.push_back(DescribeSerialPort(name));
  return ports;
}

}  // namespace tarvik
