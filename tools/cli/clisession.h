#pragma once
// What tarvik-cli does, on the Qt-free core: the commands, with the calling
// thread serving the workers' steps the way the windows' thread does. The
// program's main() only supplies the console, the clock and Ctrl+C; tests
// supply their own.
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/cliopts.h"
#include "cli/clioutput.h"
#include "cli/devicerun.h"
#include "cli/exitcodes.h"
#include "cli/outcome.h"
#include "common/clock.h"
#include "firmware/catalogue.h"
#include "serial/portfacts.h"

namespace tarvik::cli {

struct CliEnvironment {
  CliOutput& Out;
  // Every time-out, pause and timestamp of the core; tests run it faster.
  Clock& Time = SystemClock();
  // A clock of its own for each device of a batch; empty: all share Time.
  // A fake clock that a pause moves on at once must not be shared: one
  // device's pauses would run out another's wait for an answer.
  std::function<std::unique_ptr<Clock>()> DeviceClock{};
  // Polled while the program waits for the device: true once the user has
  // asked to stop.
  std::function<bool()> Interrupted = [] { return false; };
  // The system's serial ports; empty: SystemSerialPorts.
  std::function<std::vector<std::string>()> ListPorts{};
  // What the system knows of a port; empty: DescribeSerialPort.
  std::function<SerialPortFacts(const std::string& name)> DescribePort{};
  // A port by the name the worker opens is there; empty: SerialPortPresent.
  std::function<bool(const std::string& name)> PortPresent{};
  // update.ini when --rules names none; empty: no rules file.
  std::function<std::filesystem::path()> DefaultRules{};
  CatalogueSource Catalogue = EmbeddedCatalogueSource();
  // Each device's result as it ends, for a program that runs the tool
  // inside itself and reads the outcome rather than the words; empty: none.
  std::function<void(const DeviceResult&)> Ended{};
};

// The whole program after its start: the arguments (without the program's
// name) parsed, the help or the command run. The calling thread becomes the
// thread that serves the workers' steps.
ExitCode RunCli(const std::vector<std::string>& args, CliEnvironment& env);

}  // namespace tarvik::cli
