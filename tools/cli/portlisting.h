#pragma once
// What "ports" prints: a port a line with what the system knows of it, or
// with --json the same facts for scripts.
#include <string>
#include <vector>

#include "serial/portfacts.h"

namespace tarvik::cli {

// Windows-1251 lines: the name, then what the port is (maker and product,
// USB IDs, serial number); its stable name on a line of its own below.
std::string PortListingText(const std::vector<SerialPortFacts>& ports);

// An array with an object a port, every fact a key, null where the system
// does not say. ASCII only (other characters escaped), so it reads the same
// in any code page a console or a pipe uses.
std::string PortListingJson(const std::vector<SerialPortFacts>& ports);

}  // namespace tarvik::cli
