#pragma once
// Several devices from one command: each port's run on a thread of its own,
// in one process, so one device's failure, hang-up or silence never holds
// up another. The calling thread shows the table, takes Ctrl+C (the first
// stops every device between two commands, the second ends every wait at
// once) and hands on each device's result as it ends.
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/cliopts.h"
#include "cli/clioutput.h"
#include "cli/logfile.h"
#include "cli/outcome.h"
#include "common/clock.h"
#include "firmware/catalogue.h"

namespace tarvik::cli {

struct BatchSetup {
  const CliOptions& Options;
  // As the user named them (or the search found them).
  std::vector<std::string> Ports;
  const FirmwareCatalogue& Catalogue;
  std::filesystem::path Rules;
  Clock& Time;
  // A clock of its own for each device; empty: Time for all.
  std::function<std::unique_ptr<Clock>()> DeviceClock{};
  CliOutput& Out;
  // Polled by the calling thread: true at each Ctrl+C.
  std::function<bool()> Interrupted;
  LogFile* Log = nullptr;
  std::function<bool(const std::string& name)> PortPresent{};
  // On the calling thread as each device ends (its record).
  std::function<void(const DeviceResult&)> Ended{};
  // The summary at the end (not with --json, whose standard output is
  // records only).
  bool Summary = true;
  // The ports are names of the system's list (--all), not typed ones.
  bool Listed = false;
  // --all: the ports the search passed over, named in the summary.
  std::vector<PassedPort> PassedOver{};
};

// The devices' results in the order of the ports.
std::vector<DeviceResult> RunBatch(const BatchSetup& setup);

}  // namespace tarvik::cli
