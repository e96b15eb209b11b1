#pragma once
// One device's part of identify, flash and flash-hex: its port opened, the
// device identified, the decision made, the image written and checked, all
// told through a sink. A single port runs it on the program's thread; a batch
// runs one per port, each on a thread of its own, which then serves that
// device's workers as the windows' thread would.
#include <filesystem>
#include <functional>
#include <string>

#include "cli/cliopts.h"
#include "cli/clioutput.h"
#include "cli/hurriedclock.h"
#include "cli/logfile.h"
#include "cli/outcome.h"
#include "cli/progress.h"
#include "firmware/catalogue.h"
#include "firmware/hexgrid.h"

namespace tarvik::cli {

// Where one device's texts go.
class DeviceSink {
 public:
  virtual ~DeviceSink() = default;
  // A whole line for the user, without its line end.
  virtual void Line(Stream stream, const std::string& text) = 0;
  virtual ProgressSink& Progress() = 0;
  // What is known of the device so far (its identity, the image it gets).
  virtual void Known(const DeviceResult& /*facts*/) {}
};

struct DeviceRunSetup {
  const CliOptions& Options;
  // As the user named it.
  std::string Port;
  const FirmwareCatalogue& Catalogue;
  // update.ini or --rules; empty: none.
  std::filesystem::path Rules;
  // flash-hex: the file's data.
  const HexGrid* Grid = nullptr;
  // Every wait of this device; hurried, it ends them at once.
  HurriedClock& Time;
  // Polled while the device is waited for: true once the user asked to stop.
  std::function<bool()> StopAsked;
  // Polled once a stop has been asked: true when the user asks again, and
  // the device's waits are to end at once. Empty: someone else hurries the
  // clock.
  std::function<bool()> HurryAsked{};
  // --log, shared by every device; null without it.
  LogFile* Log = nullptr;
  // A port by the name the worker opens is there; empty: SerialPortPresent.
  std::function<bool(const std::string& name)> PortPresent{};
  // Port is a name of the system's list (--all), as the worker opens it,
  // rather than one the user typed.
  bool Listed = false;
};

// Runs the command of the options on the port and tells how it ended. Runs
// on the calling thread, which serves the device's workers meanwhile.
DeviceResult RunDevice(const DeviceRunSetup& setup, DeviceSink& sink);

// The image's data as the writes carry it, in block order: what an image
// leaves in the device's flash from block 0000 on.
std::string ImageData(const std::vector<std::string>& imageLines);

}  // namespace tarvik::cli
