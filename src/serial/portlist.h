#pragma once
// The serial ports the system offers now, as names the port worker opens
// ("ttyUSB0", "ttyV0"; "COM3" on Windows); read afresh at every call.
#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

std::vector<std::string> SystemSerialPorts();

// A port by the name the port worker opens ("ttyUSB0", "pts/3",
// "../tmp/ttyV0" for a path outside /dev, "COM3") is there now, whether or
// not it can be opened: for waiting while a fixture is plugged in.
bool SerialPortPresent(const std::string& name);

// Linux: the same list from other roots of the tty class and the device
// folder, so a fixture tree can stand in for the system's.
std::vector<std::string> SystemSerialPortsIn(const std::string& ttyClassRoot, const std::string& devRoot);

// Windows: the same list from a key of HKEY_CURRENT_USER instead of the
// system's serial-port map, so a test key can stand in for it.
std::vector<std::string> SystemSerialPortsInUserKey(const std::string& subKey);

}  // namespace tarvik
