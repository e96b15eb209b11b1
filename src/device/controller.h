#pragma once
// The per-connection controller: identifies the device, holds what it is,
// passes the reflash commands through to it, and drives the main window
// through the output queue only, so it stays free of any window code.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "device/deviceidentity.h"
#include "device/devtarvik6.h"
#include "outqueue/outarray.h"

namespace tarvik {

class TComPortWorker;

// The main-window objects the controller names in its queued elements, and
// the mouse cursor, which the window side changes on behalf of any thread.
class ControllerUi {
 public:
  virtual ~ControllerUi() = default;
  virtual UiObject* DisconnectButton() = 0;              // tbtnDisconnect
  virtual std::array<UiObject*, 5> LockableMenus() = 0;  // mnuFile, mnuConnections, mnuHelp, mnuUpdate, N4
  virtual UiObject* VersionPane() = 0;                   // status-bar panel 1
  virtual void SetBusyCursor(bool busy) = 0;
  virtual void HideVersionChoice() = 0;  // the reflash window's version-choice group
  // The status-bar pane for what the user must know about the connection
  // (the device did not answer, the link was lost); null: not shown.
  virtual UiObject* NoticePane() { return nullptr; }
};

// A controller that names no window object and changes no cursor: a probe
// of the port search, a bench, a program without windows. Should its line
// drop, nothing of a window (a disconnect button above all) may react.
class NoWindowUi final : public ControllerUi {
 public:
  UiObject* DisconnectButton() override { return nullptr; }
  std::array<UiObject*, 5> LockableMenus() override { return {}; }
  UiObject* VersionPane() override { return nullptr; }
  void SetBusyCursor(bool) override {}
  void HideVersionChoice() override {}
};

class TController {
 public:
  TController(TComPortWorker* worker, TOutArray& queue, ControllerUi& ui);

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

  void LockUi();
  void UnlockUi();
  void RequestDisconnect();

  bool Identified = false;
  // What the last identification found; a failed one sets the type number
  // and build back to 0.
  DeviceIdentity Identity;
  std::unique_ptr<TDevTarvik6> Device;

 private:
  bool IdentifyInner();
  void PushLockWords(const std::string& word);
  void FailIdentification();

  TOutArray& queue_;
  ControllerUi& ui_;
};

}  // namespace tarvik
