#include "cli/portlisting.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "common/text.h"

namespace tarvik::cli {
namespace {

// "0403": as lsusb and udev write the IDs.
std::string HexId(std::uint16_t id) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", static_cast<unsigned>(id));
  return text;
}

// "FTDI FT232R USB UART, USB 0403:6001, серийный номер A50285BI".
std::string Description(const SerialPortFacts& port) {
  std::vector<std::string> parts;
  // Many products name their maker already.
  std::string name = port.Product.starts_with(port.Manufacturer)
                         ? port.Product
                         : Trim(port.Manufacturer + " " + port.Product);
  if (!name.empty()) parts.push_back(std::move(name));
  if (port.VendorId && port.ProductId)
    parts.push_back("USB " + HexId(*port.VendorId) + ":" + HexId(*port.ProductId));
  if (!port.SerialNumber.empty()) parts.push_back(Utf8ToCp1251("серийный номер ") + port.SerialNumber);
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : ", ") + part;
  return text;
}

nlohmann::ordered_json TextOrNull(const std::string& cp1251) {
  return cp1251.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(Cp1251ToUtf8(cp1251));
}

}  // namespace

std::string PortListingText(const std::vector<SerialPortFacts>& ports) {
  std::size_t column = 0;
  for (const SerialPortFacts& port : ports) column = std::max(column, port.Name.size() + 2);
  const std::string indent(column, ' ');
  std::string text;
  for (const SerialPortFacts& port : ports) {
    std::string first = Description(port);
    std::string second = port.StableName;
    if (first.empty()) std::swap(first, second);
    if (first.empty()) {
      text += port.Name + "\n";
      continue;
    }
    std::string name = port.Name;
    name.resize(column, ' ');
    text += name + first + "\n";
    if (!second.empty()) text += indent + second + "\n";
  }
  return text;
}

std::string PortListingJson(const std::vector<SerialPortFacts>& ports) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const SerialPortFacts& port : ports) {
    list.push_back({
        {"port", Cp1251ToUtf8(port.Name)},
        {"stable_name", TextOrNull(port.StableName)},
        {"vendor_id",
         port.VendorId ? nlohmann::ordered_json(HexId(*port.VendorId)) : nlohmann::ordered_json(nullptr)},
        {"product_id",
         port.ProductId ? nlohmann::ordered_json(HexId(*port.ProductId)) : nlohmann::ordered_json(nullptr)},
        {"manufacturer", TextOrNull(port.Manufacturer)},
        {"product", TextOrNull(port.Product)},
        {"serial_number", TextOrNull(port.SerialNumber)},
    });
  }
  return list.dump(2, ' ', true);
}

}  // namespace tarvik::cli
