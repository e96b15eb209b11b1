#pragma once
// What the system knows of a serial port beyond its name: a name that stays
// with the device whichever socket it is plugged into, and for a USB adapter
// its IDs, its maker's and product's names and its serial number. A bench
// tells its fixtures apart by them. Windows-1251; empty where the system does
// not say, as for a pseudo-terminal or a port on the board.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvik {

struct SerialPortFacts {
  // As the port list gives it and the port worker opens it: "ttyUSB0", "COM3".
  std::string Name{};
  // Linux: the link in /dev/serial/by-id that leads to the port.
  std::string StableName{};
  std::optional<std::uint16_t> VendorId{};
  std::optional<std::uint16_t> ProductId{};
  std::string Manufacturer{};
  std::string Product{};
  std::string SerialNumber{};
};

// Read afresh at every call; a port the system does not know, or knows
// nothing of, gives its name alone.
SerialPortFacts DescribeSerialPort(const std::string& name);

// Linux: the same, with another device folder (its serial/by-id folder
// included), so a fixture tree can stand in for the system's.
SerialPortFacts DescribeSerialPortIn(const std::string& name, const std::string& devRoot);

// Every port of SystemSerialPorts, in its order.
std::vector<SerialPortFacts> DescribeSerialPorts();

}  // namespace tarvik
