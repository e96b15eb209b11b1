#pragma once
// A simulated device on a pseudo-terminal, a port worker opened on it and a
// controller over that worker, with a front end that records what the
// controller tells.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "device/controller.h"
#include "device/devtarvik6.h"
#include "serial/comportworker.h"
#include "simulator/devicesimulator.h"
#include "support/recordingevents.h"

namespace tarvik::test {

// What a bootloader answers to "+v".
inline const std::string kBootBanner = "BootLdr v1.0";

// Name of a pseudo-terminal slave as the port worker takes it ("pts/7").
inline std::string PortName(const std::string& slavePath) {
  const std::string prefix = "/dev/";
  return slavePath.rfind(prefix, 0) == 0 ? slavePath.substr(prefix.size()) : slavePath;
}

class DeviceFixture {
 public:
  static constexpr const char* kMarker = "marker";

  explicit DeviceFixture(sim::SimOptions options, Clock& clock = SystemClock()) : sim_(std::move(options)) {
    if (!sim_.Start()) throw std::runtime_error("simulator: " + sim_.Error());
    worker_ = std::make_unique<TComPortWorker>(PortName(sim_.SlavePath()), false, nullptr, clock);
    worker_->Open();
    controller_ = std::make_unique<TController>(worker_.get(), events_);
  }
  ~DeviceFixture() {
    controller_.reset();
    worker_.reset();
    sim_.Stop();
  }

  sim::DeviceSimulator& Sim() { return sim_; }
  TComPortWorker& Worker() { return *worker_; }
  TController& Controller() { return *controller_; }
  RecordingEvents& Events() { return events_; }

  // Every command the device has received so far, in order, and nothing
  // that is still on its way: a marker sent behind them comes back first.
  std::vector<std::string> ReceivedCommands() {
    worker_->Port().Write(FrameCommand(kMarker));
    std::vector<std::string> commands;
    sim_.WaitUntil(
        [&](const sim::SimReport& r) {
          if (r.commands.empty() || r.commands.back() != kMarker) return false;
          commands.assign(r.commands.begin(), r.commands.end() - 1);
          return true;
        },
        5000);
    return commands;
  }

  // What was told for the version pane, in order: each answer, and an empty
  // text where what it said was cleared.
  std::vector<std::string> StatusTexts() { return events_.Answers(); }

 private:
  sim::DeviceSimulator sim_;
  RecordingEvents events_;
  std::unique_ptr<TComPortWorker> worker_;
  std::unique_ptr<TController> controller_;
};

inline sim::SimOptions Unpaced(sim::SimOptions o) {
  o.unpaced = true;
  return o;
}

// A device whose "+v" answer starts with the given text: its version line, or
// its banner when it sits in its bootloader; "+un" names the model.
inline sim::SimOptions DeviceAnswering(const std::string& version, bool bootloader,
                                       const std::string& unitName) {
  sim::SimOptions o = Unpaced({});
  if (bootloader) {
    o.banner = version;
    o.startInBootloader = true;
  } else {
    o.version = version;
  }
  o.unitName = unitName;
  return o;
}

}  // namespace tarvik::test
