#pragma once
// The serial ports the system offers now, as names the port worker opens
// ("ttyUSB0", "ttyV0"); read afresh at every call.
#include <string>
#include <vector>

namespace tarvik {

std::vector<std::string> SystemSerialPorts();

// The same list from other roots of the tty class and the device folder,
// so a fixture tree can stand in for the system's.
std::vector<std::string> SystemSerialPortsIn(const std::string& ttyClassRoot, const std::string& devRoot);

}  // namespace tarvik
