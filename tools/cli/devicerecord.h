#pragma once
// The record of one device's run: one JSON object on one line, which --record
// appends to a file (JSON Lines) and --json prints instead of the human lines.
// A script, a spreadsheet and an auditor read it; every text is UTF-8 with
// anything outside ASCII escaped, so it reads the same in any code page.
#include <string>

#include "cli/cliopts.h"
#include "cli/outcome.h"
#include "serial/portfacts.h"

namespace tarvik::cli {

// One line, without its line end.
std::string DeviceRecordJson(Command command, const DeviceResult& result, const SerialPortFacts& port);

}  // namespace tarvik::cli
