#pragma once
// The per-connection controller: identifies the device, holds what it is,
// passes the reflash commands through to it, and tells its front end what
// happened through the connection's events, so it stays free of any window
// code.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "device/deviceevents.h"
#include "device/deviceidentity.h"
#include "device/devtarvik6.h"

namespace tarvik {

class TComPortWorker;

class TController {
 public:
  TController(TComPortWorker* worker, DeviceEvents& events);

  bool Identify();

  bool Command(std::string_view name, std::string& reply, bool log) {
    return Device->Command(name, reply, log);
  }
  bool SlowCommand(std::string_view name, std::string& reply, bool log) {
    return Device->SlowCommand(name, reply, log);
  }
  bool WriteCommand(std::string_view command, std::string& reply, bool log) {
    return Device->WriteCommand(command, reply, log);
  }

  // A line of the connection's traffic log, when it has one.
  void WriteLog(const std::string& line);

  // A worker has the device (Busy events); the front end locks what would
  // start another.
  void LockUi();
  void UnlockUi();
  // Identification failed: told, and the connection is to end.
  void ReportNoAnswer();
  // A procedure ended and asks for the connection to end.
  void RequestDisconnect();
  DeviceEvents& Events() { return events_; }

  bool Identified = false;
  // What the last identification found; a failed one sets the type number
  // and build back to 0.
  DeviceIdentity Identity;
  std::unique_ptr<TDevTarvik6> Device;

 private:
  bool IdentifyInner();
  void FailIdentification();

  DeviceEvents& events_;
};

}  // namespace tarvik
